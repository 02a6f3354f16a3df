#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class MemoryDC;

// A .bmp file held whole in memory, as stored, with a placement rectangle.
// Pixels are decoded on each draw, and only those the target shows.
class DibImage {
public:
    // Reads the file at path. A file that cannot be opened, is not a regular
    // file, or does not hold a complete bitmap leaves the image without data.
    explicit DibImage(std::string path);
    // Uses bytes that outlive the image (compiled-in pictures); nothing is copied.
    DibImage(const uint8_t* data, std::size_t size);
    ~DibImage();
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // 0 when the image holds a bitmap, -1 when it has no data.
    int Load();
    // The picture's width and height; -1 (outputs untouched) without data.
    int GetImageSize(int& width, int& height) const;
    void SetPlacement(int left, int top, int right, int bottom);
    // Draws the image at its placement into the bitmap selected in dc,
    // clipped to that bitmap. Does nothing without data.
    void Draw(MemoryDC& dc) const;

    // Decodes picture row r (0 = top) into width pixels of 0x00RRGGBB.
    // Returns false without data or for a row outside the picture.
    bool decodeRow(int r, uint32_t* out) const;

    bool hasData() const;
    const std::string& path() const { return path_; }
    // The header fields as normalised when loading: the colour count (2^bits
    // for palette images that give 0) and the pixel array's size in bytes.
    uint32_t colourCount() const;
    uint32_t imageSize() const;

    // Files larger than this are not read at all.
    static constexpr std::size_t kMaxFileBytes = std::size_t { 512 } << 20;

    struct Decoded;

private:
    std::string path_;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    std::string owned_;
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::unique_ptr<Decoded> info_;
};
