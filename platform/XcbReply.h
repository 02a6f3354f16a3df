#pragma once

#include <cstdlib>
#include <memory>

// What xcb hands back for the caller to free (replies, errors, the strings of
// xcb_parse_display), freed when the holder goes: no path can leak one or
// free it twice.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};

template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// Takes ownership: auto r = xcbReply(xcb_get_geometry_reply(c, cookie, nullptr));
template <typename T>
XcbReply<T> xcbReply(T* reply)
{
    return XcbReply<T>(reply);
}
