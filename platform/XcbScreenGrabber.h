#pragma once

#include "platform/ScreenGrabber.h"

#include <chrono>
#include <cstddef>
#include <memory>

struct xcb_connection_t;

// Reads the X11 root window straight over xcb: MIT-SHM into one shared segment that is
// reused from grab to grab (grown only when a larger area is asked for), or plain
// GetImage when the server cannot share memory with us (remote display, no extension).
class XcbScreenGrabber : public ScreenGrabber {
public:
    // Nothing unless the root visual is TrueColor with 8-bit channels at 32 bits a pixel
    // (depth 24 or 32). The connection must outlive the grabber.
    static std::unique_ptr<XcbScreenGrabber> create(xcb_connection_t* connection,
                                                    int screenNumber, bool allowShm = true);
    ~XcbScreenGrabber() override;

    bool grab(int x, int y, int w, int h, std::uint32_t* dst, int dstStride) override;

    // The same over a display connection of the grabber's own, closed with it:
    // replies to its grabs then never wait on another thread's reads.
    static std::unique_ptr<XcbScreenGrabber> createWithOwnConnection(int screenNumber);

    // Whether grabs go through the shared segment (turns false if the server refuses it).
    bool usesSharedMemory() const { return shmAllowed_; }


private:
    XcbScreenGrabber() = default;

    bool grabClipped(int x, int y, int w, int h, std::uint32_t* dst, int dstStride);
    bool ensureSegment(std::size_t bytes);
    void releaseSegment();
    void refreshGeometry();
    void convert(const unsigned char* src, int w, int h, std::uint32_t* dst, int dstStride) const;

    xcb_connection_t* connection_ = nullptr;
    bool ownsConnection_ = false;
    std::uint32_t root_ = 0;
    int rootWidth_ = 0;
    int rootHeight_ = 0;
    std::chrono::steady_clock::time_point geometryTime_;
    int redShift_ = 16, greenShift_ = 8, blueShift_ = 0;
    bool swapBytes_ = false;

    bool shmAllowed_ = false;
    std::uint32_t segment_ = 0; // xcb_shm_seg_t, 0 while none is attached
    void* segmentAddr_ = nullptr;
    std::size_t segmentBytes_ = 0;
};
