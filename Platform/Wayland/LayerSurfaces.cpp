#include "Wayland/LayerSurfaces.h"

#include <LayerShellQt/Window>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <wayland-client.h>

using LayerWindow = LayerShellQt::Window;

namespace {
void noteGlobal(void *data, wl_registry *, uint32_t, const char *interface, uint32_t) {
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) *static_cast<bool *>(data) = true;
}
void forgetGlobal(void *, wl_registry *, uint32_t) {}
const wl_registry_listener registryListener = {noteGlobal, forgetGlobal};

void setKeyboard(QWidget *window, LayerWindow::KeyboardInteractivity interactivity) {
    LayerWindow::get(window->windowHandle())->setKeyboardInteractivity(interactivity);
    window->update(); // the next frame carries it
}

// Keeps a window's surface where the window's geometry says: anchored to the nearest edge of its
// screen in each direction, at that edge's distance.
class Placement : public QObject {
public:
    Placement(QWidget *window, bool keyboard) : QObject(window), m_window(window), m_keyboard(keyboard) {
        window->installEventFilter(this);
        window->windowHandle()->installEventFilter(this);
    }

    void place() {
        QScreen *screen = m_window->screen();
        if (!screen) return;
        const QRect s = screen->geometry(), f = m_window->geometry();
        // The compositor sends a surface wholly beyond the screen's edge no frame callbacks, and Qt
        // stops drawing a window that gets none for a while: slid out, it would never slide in
        // again. Its last pixel stays on the screen.
        const int left = std::max(f.left() - s.left(), 1 - f.width());
        const int right = std::max(s.right() - f.right(), 1 - f.width());
        const int top = std::max(f.top() - s.top(), 1 - f.height());
        const int bottom = std::max(s.bottom() - f.bottom(), 1 - f.height());
        LayerWindow::Anchors anchors;
        QMargins margins;
        if (right < left) {
            anchors |= LayerWindow::AnchorRight;
            margins.setRight(right);
        } else {
            anchors |= LayerWindow::AnchorLeft;
            margins.setLeft(left);
        }
        if (bottom < top) {
            anchors |= LayerWindow::AnchorBottom;
            margins.setBottom(bottom);
        } else {
            anchors |= LayerWindow::AnchorTop;
            margins.setTop(top);
        }
        LayerWindow *layer = LayerWindow::get(m_window->windowHandle());
        if (layer->anchors() == anchors && layer->margins() == margins) return;
        layer->setAnchors(anchors);
        layer->setMargins(margins);
        m_window->update(); // a move alone draws nothing, and the surface takes its place at the next frame
    }

    // Asks for the keyboard. A surface that takes it "on demand" is given it as it appears, and
    // by a press into it: one not yet on screen has it as it comes. One already there without it
    // (shown for a drag) is shown anew, and takes it as it appears. (Asking for it exclusively and
    // then on demand again keeps it on some compositors and loses it at once on others.)
    void askForKeyboard() {
        setKeyboard(m_window, LayerWindow::KeyboardInteractivityOnDemand);
        if (!m_window->isVisible() || !m_window->windowHandle()->isExposed() || m_window->isActiveWindow() ||
            QGuiApplication::mouseButtons() != Qt::NoButton)
            return;
        m_reshowing = true;
        m_window->hide();
        m_window->show();
        m_reshowing = false;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            if (watched == m_window) place();
            break;
        case QEvent::Expose:
            // Drawn as this event is handled: on screen by the next turn of the loop. Shown for a
            // drag it took no keyboard; a click into it may take it from now on.
            if (watched == m_window->windowHandle() && m_keyboard && m_window->windowHandle()->isExposed())
                QTimer::singleShot(0, m_window, [this] {
                    if (m_window->isVisible())
                        setKeyboard(m_window, LayerWindow::KeyboardInteractivityOnDemand);
                });
            break;
        case QEvent::Hide:
            // Shown again, it appears without taking the keyboard, as at first.
            if (watched == m_window && m_keyboard && !m_reshowing)
                setKeyboard(m_window, LayerWindow::KeyboardInteractivityNone);
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget *const m_window;
    const bool m_keyboard;
    bool m_reshowing = false;
};
} // namespace

bool LayerSurfaces::offered() {
    wl_display *display = wl_display_connect(nullptr);
    if (!display) return false;
    bool found = false;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &found);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

void LayerSurfaces::configure(QWidget *window, bool takesKeyboard) {
    window->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->winId();
    LayerWindow *layer = LayerWindow::get(window->windowHandle());
    layer->setLayer(LayerWindow::LayerTop);
    layer->setScope(QStringLiteral("stowbay"));
    // Placed against the screen's own edges, whatever bars reserve there.
    layer->setExclusiveZone(-1);
    layer->setKeyboardInteractivity(LayerWindow::KeyboardInteractivityNone);
    auto *placement = new Placement(window, takesKeyboard);
    placement->place();
}

void LayerSurfaces::activate(QWidget *window) {
    for (QObject *child : window->children())
        if (auto *placement = dynamic_cast<Placement *>(child)) placement->askForKeyboard();
}

void LayerSurfaces::resign(QWidget *window) {
    LayerWindow *layer = LayerWindow::get(window->windowHandle());
    layer->setKeyboardInteractivity(LayerWindow::KeyboardInteractivityNone);
    window->update();
    // A click into it gives it the keyboard again, from the frame after the one that gave it back.
    QTimer::singleShot(50, window, [w = QPointer<QWidget>(window)] {
        if (w && w->isVisible()) setKeyboard(w, LayerWindow::KeyboardInteractivityOnDemand);
    });
}
