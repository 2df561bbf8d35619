#include "Triggers/EdgeTrigger.h"

#include "Input/FloatingWindow.h"
#include "Interaction/StowbayDragState.h"
#include "Views/FileDropLoader.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

// The drop target along one screen's edge: a window of the panel's own kind, drawing nothing.
class EdgeTarget : public QWidget {
public:
    explicit EdgeTarget(EdgeTrigger &trigger) : m_trigger(trigger) {
        FloatingWindow::configure(this, false);
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("Stowbay edge"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override {
        // A drag that brings no files hears no more of this window, not even its leaving: the
        // timeout takes the target away.
        if (!FileDropLoader::offersFiles(event->mimeData())) return event->ignore();
        m_trigger.m_timeout.stop();
        m_trigger.m_fileDrag.start();
        event->acceptProposedAction();
        if (m_trigger.onTrigger) m_trigger.onTrigger();
        // The panel slides in at the edge: it must not pass under the drag, or the compositor
        // hands the drag over to it unasked (KWin then sends it positions before it enters, and
        // the drag stalls). The pointer's next move takes the drag to the panel.
        raise();
    }
    void dragMoveEvent(QDragMoveEvent *event) override {
        m_trigger.m_fileDrag.start(); // the drag is here
        event->acceptProposedAction();
    }
    void dragLeaveEvent(QDragLeaveEvent *) override {
        m_trigger.m_fileDrag.start(); // ... and on its way
        m_trigger.withdraw();
    }
    void dropEvent(QDropEvent *event) override {
        QPointer<EdgeTrigger> trigger(&m_trigger);
        FileDropLoader::load(event->mimeData(), [trigger](const QList<QUrl> &urls) {
            if (trigger && trigger->onDropURLs && !urls.isEmpty()) trigger->onDropURLs(urls);
        });
        // Stowbay keeps a reference: the source must never take the drop for a move.
        event->setDropAction(event->possibleActions() & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
        event->accept();
        m_trigger.m_fileDrag.stop();
        m_trigger.withdraw();
    }

private:
    EdgeTrigger &m_trigger;
};

EdgeTrigger::EdgeTrigger(DragPasteboard &pasteboard, AppSettings &settings, QObject *parent)
    : QObject(parent), m_pasteboard(pasteboard), m_settings(settings) {
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &EdgeTrigger::withdraw);
    m_fileDrag.setSingleShot(true);
    m_fileDrag.setInterval(onTheWayMs);
}

EdgeTrigger::~EdgeTrigger() {
    qDeleteAll(m_targets);
}

void EdgeTrigger::start() {
    QPointer<EdgeTrigger> self(this);
    m_pasteboard.onChange = [self] {
        if (self) self->dragMayHaveBegun();
    };
}

bool EdgeTrigger::isShown() const {
    return !m_targets.isEmpty();
}

QRect EdgeTrigger::frame(const QRect &screen, StowbayEdge edge) {
    switch (edge) {
    case StowbayEdge::left:
        return QRect(screen.left(), screen.top(), thickness, screen.height());
    case StowbayEdge::bottom:
        return QRect(screen.left(), screen.bottom() + 1 - thickness, screen.width(), thickness);
    case StowbayEdge::right:
        break;
    }
    return QRect(screen.right() + 1 - thickness, screen.top(), thickness, screen.height());
}

// The pasteboard changed hands: a drag may have begun somewhere, but where the pointer is and
// whether a button is down cannot be known. Stowbay's own drag out of the panel needs no target.
void EdgeTrigger::dragMayHaveBegun() {
    if (StowbayDragState::internalActive) return;
    if (m_targets.isEmpty()) {
        for (QScreen *screen : QGuiApplication::screens()) {
            auto *target = new EdgeTarget(*this);
            target->setGeometry(frame(screen->geometry(), m_settings.edge()));
            target->show();
            target->raise();
            m_targets << target;
        }
    }
    m_timeout.start();
}

void EdgeTrigger::withdraw() {
    m_timeout.stop();
    // A target may be the caller: it goes once control is back in the event loop.
    for (QWidget *target : std::exchange(m_targets, {})) {
        target->hide();
        target->deleteLater();
    }
}
