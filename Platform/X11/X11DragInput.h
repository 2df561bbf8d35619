// The system's drag pasteboard and mouse on X11, read on a connection of our own so that the
// toolkit's event handling is untouched. The connection's socket wakes us only when the server has
// something to say; nothing polls unless pointer sampling is switched on during a file drag.
//
// - Drag pasteboard: every time a drag source takes the XdndSelection (XFixes tells us, also when
//   the owner does not change between drags), the change count grows and the drag's text/uri-list
//   is asked for at once; a source that refuses is asked again, with the time of the pointer's
//   motions, until it answers. Until the answer is in, the contents are not known. Each drag's
//   answers come to a window of that drag's own, so a late answer, or none, from an earlier
//   drag's source never counts for a later drag.
// - In a sway session the compositor hands its drags to X11 programs only once one of their
//   windows has had the keyboard: see joinCompositorDrags.
// - Mouse: XInput2 raw button and motion events on the root window, which arrive even while a drag
//   source holds the pointer grab; motion is asked for only while it is of use (see
//   updateMotionSelection). They carry no position: the pointer is queried when one is needed.
#pragma once

#include "Input/DragPasteboard.h"
#include "Input/MouseMonitor.h"
#include "X11/X11Connection.h"

#include <QMap>
#include <QObject>
#include <QTimer>

class X11DragInput : public QObject, public DragPasteboard, public MouseMonitor {
    Q_OBJECT
public:
    // Opens its own connection to the display named by $DISPLAY; without one it stays inert.
    explicit X11DragInput(QObject *parent = nullptr);
    ~X11DragInput() override;

    bool isConnected() const { return m_display != nullptr; }

    qint64 changeCount() const override { return m_changeCount; }
    std::optional<bool> hasFileURLs() override { return m_files; }

    int addMonitor(Handler handler) override;
    void removeMonitor(int token) override;
    unsigned pressedMouseButtons() override;
    QPointF mouseLocation() override;
    void setPointerSampling(bool on) override;

    // Handles everything the server has sent; the socket notifier calls it, benchmarks call it.
    void processEvents() { m_connection.processEvents(); }

    // The connection, for benchmarks that feed it events.
    void *nativeDisplay() const { return m_display; }

    // Seconds on the monotonic clock, the time of every event delivered.
    static double now();

    // The property on which the contents are asked for.
    static constexpr const char *contentsProperty = "_STOWBAY_DRAG_CONTENTS";

private:
    struct Pointer {
        QPointF location;
        unsigned buttons = 0;
    };

    void handleEvent(_XEvent &event);
    void joinCompositorDrags();
    void dragPasteboardChanged(unsigned long owner);
    void askForContents(unsigned long time);
    enum class Answer { files, noFiles, unreadable, inPieces };
    void contentsArrived(unsigned long property);
    Answer readAnswer(unsigned long property);
    std::optional<bool> ownerOffersURLs();
    void updateMotionSelection();
    void selectRawEvents(bool motion);
    void samplePointer();
    bool pressWentDownOnPanel();
    Pointer queryPointer();
    void dispatch(MouseEvent::Type type);

    X11Connection m_connection{[this](_XEvent &event) { handleEvent(event); }};
    Display *const m_display = m_connection.display();
    unsigned long m_root = 0;
    unsigned long m_requestor = 0; // unmapped window that receives the current drag's contents
    unsigned long m_xdndSelection = 0, m_uriList = 0, m_xdndTypeList = 0, m_property = 0, m_incr = 0;
    int m_xiOpcode = -1;
    int m_fixesEventBase = -1;

    qint64 m_changeCount = 0;
    std::optional<bool> m_files;
    unsigned long m_owner = 0;
    int m_inFlight = 0;      // requests for the current change count not answered yet
    int m_attempts = 0;      // requests made for the current change count
    bool m_askAgain = false; // the owner refused: ask again at the next pointer motion

    bool m_leftDown = false; // from the raw button events
    bool m_motionSelected = false;
    bool m_panelPress = false; // the left button went down on the panel
    bool m_dispatching = false;
    std::optional<Pointer> m_pointer; // queried during the current dispatch
    QPointF m_lastSample;
    QTimer m_sampler;

    QMap<int, Handler> m_handlers;
    int m_nextToken = 1;
};
