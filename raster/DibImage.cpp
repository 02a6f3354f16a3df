#include "raster/DibImage.h"

#include "files/RegularFile.h"

#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
// Run-length pictures are expanded to one byte a pixel when loaded; larger
// ones, or ones far larger than their data could describe, are refused.
constexpr uint64_t kMaxRunLengthPixels = 100'000'000;
constexpr uint64_t kMaxRunLengthPixelsPerByte = 16384;
constexpr std::size_t kFileHeader = 14;
constexpr std::size_t kInfoHeader = 40;

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t s32(const uint8_t* p) { return static_cast<int32_t>(u32(p)); }

// A channel of a 16- or 32-bit pixel, given by its mask, widened to 8 bits by
// repeating its top bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    void set(uint32_t m)
    {
        mask = m;
        shift = 0;
        bits = 0;
        if (!m)
            return;
        while (!(m & 1)) {
            m >>= 1;
            ++shift;
        }
        while (m & 1) {
            m >>= 1;
            ++bits;
        }
        // Only the lowest run of ones counts: the bits of a broken mask above
        // a gap would spill into the next channel and past 0x00RRGGBB.
        mask = bits == 32 ? ~0u : ((1u << bits) - 1) << shift;
    }
    uint32_t get(uint32_t pixel) const
    {
        if (!bits)
            return 0;
        uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return v >> (bits - 8);
        uint32_t out = 0;
        for (int filled = 0; filled < 8; filled += bits)
            out = out << bits | v;
        return (out >> (((8 + bits - 1) / bits) * bits - 8)) & 0xFF;
    }
};

// Expands RLE8 or RLE4 data into one index a pixel, stored row 0 at the bottom
// as the data has it. Pixels the data never sets stay index 0; runs past the
// right edge are cut. False when the data ends before the picture does.
bool expandRunLength(const uint8_t* p, std::size_t n, bool four, int w, int h, std::vector<uint8_t>& out)
{
    out.assign(std::size_t(w) * std::size_t(h), 0);
    std::size_t i = 0;
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < w) {
            if (y < h)
                out[std::size_t(y) * std::size_t(w) + std::size_t(x)] = v;
            ++x;
        }
    };
    while (y < h) {
        if (i + 1 >= n)
            return y >= h - 1; // no end marker: enough when the last row was reached
        const uint8_t count = p[i], value = p[i + 1];
        i += 2;
        if (count) {
            for (int k = 0; k < count; ++k)
                put(four ? uint8_t((k & 1) ? value & 0xF : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (i + 1 >= n)
                return false;
            x = std::min<int64_t>(x + p[i], w);
            y = std::min<int64_t>(y + p[i + 1], h);
            i += 2;
        } else {
            const std::size_t bytes = four ? (value + 1u) / 2u : value;
            if (bytes > n - i)
                return false;
            for (int k = 0; k < value; ++k)
                put(four ? uint8_t((k & 1) ? p[i + k / 2] & 0xF : p[i + k / 2] >> 4) : p[i + k]);
            i += (bytes + 1) & ~std::size_t { 1 };
        }
    }
    return true;
}

} // namespace

struct DibImage::Decoded {
    int width = 0;
    int height = 0;          // rows, always positive
    bool topDown = false;
    int bits = 0;
    uint32_t colourCount = 0;
    uint32_t imageSize = 0;
    std::size_t rowBytes = 0;
    const uint8_t* pixels = nullptr;
    // A run-length picture expanded to one palette index a pixel.
    std::vector<uint8_t> expanded;
    uint32_t palette[256] = {};
    Channel red, green, blue;

    void decodeRow(const uint8_t* row, int x0, int count, uint32_t* out) const;
};

void DibImage::Decoded::decodeRow(const uint8_t* row, int x0, int count, uint32_t* out) const
{
    switch (bits) {
    case 1:
        for (int i = 0; i < count; ++i) {
            int x = x0 + i;
            out[i] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
        }
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            int x = x0 + i;
            out[i] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
        }
        break;
    case 8:
        for (int i = 0; i < count; ++i)
            out[i] = palette[row[x0 + i]];
        break;
    case 16:
        for (int i = 0; i < count; ++i) {
            uint32_t p = u16(row + 2 * std::size_t(x0 + i));
            out[i] = red.get(p) << 16 | green.get(p) << 8 | blue.get(p);
        }
        break;
    case 24:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 3 * std::size_t(x0 + i);
            out[i] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
        break;
    case 32:
        for (int i = 0; i < count; ++i) {
            uint32_t p = u32(row + 4 * std::size_t(x0 + i));
            out[i] = red.get(p) << 16 | green.get(p) << 8 | blue.get(p);
        }
        break;
    }
}

DibImage::DibImage(std::string path) : path_(std::move(path))
{
    RegularFile file = RegularFile::readWhole(path_, kMaxFileBytes);
    if (file.ok()) {
        owned_ = file.takeBytes();
        data_ = reinterpret_cast<const uint8_t*>(owned_.data());
        size_ = owned_.size();
    }
    if (Load() == 0)
        SetPlacement(0, 0, info_->width, info_->height);
}

DibImage::DibImage(const uint8_t* data, std::size_t size) : data_(data), size_(size)
{
    if (Load() == 0)
        SetPlacement(0, 0, info_->width, info_->height);
}

DibImage::~DibImage() = default;

int DibImage::Load()
{
    info_.reset();
    if (!data_ || size_ < kFileHeader + kInfoHeader)
        return -1;
    const uint8_t* h = data_ + kFileHeader;
    auto d = std::make_unique<Decoded>();
    uint32_t offBits = u32(data_ + 10);
    uint32_t headerSize = u32(h);
    int32_t width = s32(h + 4);
    int32_t height = s32(h + 8);
    d->bits = static_cast<int>(u16(h + 14));
    uint32_t compression = u32(h + 16);
    uint32_t sizeImage = u32(h + 20);
    uint32_t clrUsed = u32(h + 32);

    // Headers older than the 40-byte one lay out their fields differently.
    if (headerSize < kInfoHeader || headerSize > size_ - kFileHeader)
        return -1;
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return -1;
    d->width = width;
    d->topDown = height < 0;
    d->height = height < 0 ? -height : height;
    switch (d->bits) {
    case 4: case 8:
        if (compression == (d->bits == 8 ? BI_RLE8 : BI_RLE4)) {
            // Run-length data is stored bottom-up only.
            if (d->topDown)
                return -1;
            break;
        }
        [[fallthrough]];
    case 1: case 24:
        if (compression != BI_RGB)
            return -1;
        break;
    case 16: case 32:
        if (compression != BI_RGB && compression != BI_BITFIELDS)
            return -1;
        break;
    default:
        return -1;
    }

    // Colour count: 0 means the full palette for the bit depth.
    if (clrUsed == 0 && d->bits <= 8)
        clrUsed = 1u << d->bits;
    d->colourCount = clrUsed;

    const bool runLength = compression == BI_RLE8 || compression == BI_RLE4;
    uint64_t rowBytes = ((uint64_t { uint32_t(d->bits) } * uint32_t(width) + 31) / 32) * 4;
    uint64_t pixelBytes = rowBytes * uint64_t(d->height);
    if (runLength) {
        // Checked before anything the size of the picture is allocated.
        const uint64_t pixels = uint64_t(uint32_t(width)) * uint64_t(d->height);
        if (pixels > kMaxRunLengthPixels || pixels > uint64_t(size_) * kMaxRunLengthPixelsPerByte)
            return -1;
        pixelBytes = 0;
    } else if (pixelBytes > size_) {
        return -1;
    }
    d->rowBytes = static_cast<std::size_t>(rowBytes);
    d->imageSize = sizeImage ? sizeImage : static_cast<uint32_t>(pixelBytes);

    // Bit masks follow a 40-byte header; larger headers hold them inside.
    uint64_t tableStart = kFileHeader + headerSize;
    uint32_t masks[3] = { 0, 0, 0 };
    if (compression == BI_BITFIELDS) {
        if (kFileHeader + kInfoHeader + 12 > size_)
            return -1;
        for (int i = 0; i < 3; ++i)
            masks[i] = u32(data_ + kFileHeader + kInfoHeader + 4 * i);
        if (headerSize == kInfoHeader)
            tableStart += 12;
    } else if (d->bits == 16) {
        masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
    } else if (d->bits == 32) {
        masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF;
    }
    d->red.set(masks[0]);
    d->green.set(masks[1]);
    d->blue.set(masks[2]);

    uint64_t tableBytes = uint64_t { clrUsed } * 4;
    if (tableStart + tableBytes > size_) {
        // A palette image needs its colours; deeper images only skip the table.
        if (d->bits <= 8)
            return -1;
    } else if (d->bits <= 8) {
        // Indices past the table come out black.
        uint32_t n = std::min<uint32_t>(clrUsed, 256);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* e = data_ + tableStart + 4 * i;
            d->palette[i] = uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
        }
    }

    uint64_t pixelStart = offBits ? offBits : tableStart + tableBytes;
    if (pixelStart > size_ || pixelBytes > size_ - pixelStart)
        return -1;
    d->pixels = data_ + pixelStart;
    if (runLength) {
        if (!expandRunLength(d->pixels, size_ - std::size_t(pixelStart), compression == BI_RLE4, d->width, d->height,
                             d->expanded))
            return -1;
        if (!sizeImage)
            d->imageSize = static_cast<uint32_t>(std::min<uint64_t>(size_ - pixelStart, UINT32_MAX));
        // From here on it reads as an uncompressed 8-bit picture.
        d->pixels = d->expanded.data();
        d->rowBytes = std::size_t(d->width);
        d->bits = 8;
    }
    info_ = std::move(d);
    return 0;
}

bool DibImage::decodeRow(int r, uint32_t* out) const
{
    if (!info_ || r < 0 || r >= info_->height)
        return false;
    const Decoded& d = *info_;
    int stored = d.topDown ? r : d.height - 1 - r;
    d.decodeRow(d.pixels + static_cast<std::size_t>(stored) * d.rowBytes, 0, d.width, out);
    return true;
}

bool DibImage::hasData() const { return info_ != nullptr; }
uint32_t DibImage::colourCount() const { return info_ ? info_->colourCount : 0; }
uint32_t DibImage::imageSize() const { return info_ ? info_->imageSize : 0; }

int DibImage::GetImageSize(int& width, int& height) const
{
    if (!info_)
        return -1;
    width = info_->width;
    height = info_->height;
    return 0;
}

void DibImage::SetPlacement(int left, int top, int right, int bottom)
{
    left_ = left;
    top_ = top;
    right_ = right;
    bottom_ = bottom;
}

void DibImage::Draw(MemoryDC& dc) const
{
    Bitmap* target = dc.bitmap();
    if (!info_ || !target || target->isMonochrome())
        return;
    const Decoded& d = *info_;
    // The extents drawn are the placement's, never more than the picture.
    int64_t w = std::min<int64_t>(int64_t { right_ } - left_, d.width);
    int64_t h = std::min<int64_t>(int64_t { bottom_ } - top_, d.height);
    int64_t x0 = std::max<int64_t>(left_, 0), x1 = std::min<int64_t>(left_ + w, target->width());
    int64_t y0 = std::max<int64_t>(top_, 0), y1 = std::min<int64_t>(top_ + h, target->height());
    if (x0 >= x1 || y0 >= y1)
        return;
    int firstColumn = static_cast<int>(x0 - left_);
    int count = static_cast<int>(x1 - x0);
    for (int64_t y = y0; y < y1; ++y) {
        int64_t r = y - top_; // picture row, top row first
        int64_t stored = d.topDown ? r : d.height - 1 - r;
        const uint8_t* row = d.pixels + static_cast<std::size_t>(stored) * d.rowBytes;
        d.decodeRow(row, firstColumn, count, target->colourRow(static_cast<int>(y)) + x0);
    }
}
