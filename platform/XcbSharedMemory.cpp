#include "platform/XcbSharedMemory.h"

#include "platform/XcbReply.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

bool attachSharedSegment(xcb_connection_t* connection, std::size_t bytes, XcbSharedSegment& segment)
{
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(connection);
    const auto error
        = xcbReply(xcb_request_check(connection, xcb_shm_attach_checked(connection, seg, std::uint32_t(id), 0)));
    shmctl(id, IPC_RMID, nullptr);
    if (error != nullptr) {
        shmdt(address);
        return false;
    }
    segment.id = seg;
    segment.address = address;
    return true;
}
