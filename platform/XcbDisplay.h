#pragma once

#include <cstdint>

struct xcb_connection_t;
struct xcb_screen_t;

// Qt's own X connection and the screen Qt opened (the one DISPLAY names).
// Requests on this connection reach the server in order with Qt's own for the
// same windows. Empty where Qt is not on X11.
struct XcbDisplay {
    xcb_connection_t* connection = nullptr;
    const xcb_screen_t* screen = nullptr;
    int screenNumber = 0;

    explicit operator bool() const { return screen != nullptr; }

    static XcbDisplay ofQt();
};

// The atom of that name, made if need be; 0 (None) when the server does not answer.
std::uint32_t internAtom(xcb_connection_t* c, const char* name);
