// Small requests on the toolkit's own XCB connection, for the native event filters that answer
// drags there.
#pragma once

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace XcbRequests {

// The atom of `name`, made if need be; XCB_NONE when the server does not answer.
inline xcb_atom_t atom(xcb_connection_t *connection, const char *name) {
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
    std::free(reply);
    return atom;
}

// Sends `event` to `window` at once. xcb_send_event sends 32 bytes, more than an event's own
// structure may hold.
template <typename Event> void send(xcb_connection_t *connection, xcb_window_t window, const Event &event) {
    char bytes[32] = {};
    static_assert(sizeof event <= sizeof bytes);
    memcpy(bytes, &event, sizeof event);
    xcb_send_event(connection, false, window, XCB_EVENT_MASK_NO_EVENT, bytes);
    xcb_flush(connection);
}

} // namespace XcbRequests
