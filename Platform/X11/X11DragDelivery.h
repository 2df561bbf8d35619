// Drags out of the program on X11, in front of the toolkit's own drag handling on its connection
// (a native event filter that sees every event before the toolkit does).
//
// - Data: every request for XdndSelection while a drag's data is served is answered here, in
//   every type the drag offers, whatever its time stamp and whoever asks: a program that asks
//   after the drop with time CurrentTime from a window of its own gets the files too. TARGETS
//   lists the types (the toolkit refuses it, and GNOME's bridge from X11 drags to native Wayland
//   programs then offers them none). A type the drag does not offer is refused at once: the
//   toolkit may leave a request it finds stale unanswered, and a program that asks first for a
//   type of its own liking (GNOME Files asks for the desktop's file-transfer portal's) waits for
//   that answer before it falls back to the file list.
// - Word from the target: the XdndStatus and XdndFinished messages sent to our drag window are
//   read as they pass (never taken away from the toolkit). A drop counts as delivered once the
//   target has read the data and finished with success, or, for a target too old to send
//   XdndFinished (XDND version below 2), once it has read the data. A refusal settles the drop at
//   once; silence settles it as not delivered after `confirmationTimeout`.
#pragma once

#include "Input/DragDelivery.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QHash>
#include <QTimer>
#include <optional>

struct xcb_connection_t;
struct xcb_selection_request_event_t;
struct xcb_client_message_event_t;

class X11DragDelivery : public DragDelivery, public QAbstractNativeEventFilter {
public:
    // How long a dropped-on target has to confirm the drop.
    static constexpr int confirmationTimeout = 5000; // milliseconds

    explicit X11DragDelivery(xcb_connection_t *connection);
    ~X11DragDelivery() override;

    void serve(const QMimeData &data) override;
    void awaitDelivery(std::function<void(bool delivered)> settled) override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    using Atom = quint32;
    using Window = quint32;

    bool answer(const xcb_selection_request_event_t &request);
    void targetSaid(const xcb_client_message_event_t &message);
    void decide();
    void settle(bool delivered);
    int targetVersion();
    // Reads the first 32-bit value of `property`; false when the window has none of `type`.
    bool readProperty(Window window, Atom property, Atom type, quint32 *value);
    Atom atom(const char *name);

    xcb_connection_t *const m_connection;
    Atom m_xdndSelection, m_targets, m_xdndStatus, m_xdndFinished, m_xdndAware, m_xdndProxy,
        m_watcherProperty;

    QHash<Atom, QByteArray> m_offered; // the current drag's data, by the type asked for
    // What the current drag's target has said and done.
    Window m_target = 0;                 // the window of the latest XdndStatus
    bool m_read = false;                 // a program other than ours got the data
    std::optional<bool> m_finished;      // XdndFinished arrived: with success?
    std::function<void(bool)> m_settled; // set while a drop waits for its word
    QTimer m_timeout;
};
