#pragma once

#include <cstddef>
#include <cstdint>

struct xcb_connection_t;

// A shared memory segment that the X server has attached too. It is marked
// for removal as soon as the server holds it, so it cannot outlive both of
// us, even after a crash. Detach it with xcb_shm_detach and shmdt.
struct XcbSharedSegment {
    std::uint32_t id = 0; // xcb_shm_seg_t
    void* address = nullptr;
};

// False, with nothing left behind, when the segment cannot be made or the
// server refuses it.
bool attachSharedSegment(xcb_connection_t* connection, std::size_t bytes, XcbSharedSegment& segment);
