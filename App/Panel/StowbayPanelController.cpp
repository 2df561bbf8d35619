#include "Panel/StowbayPanelController.h"

#include "Interaction/QuickLookController.h"
#include "Interaction/StowbayDragState.h"
#include "Interaction/StowbayInteraction.h"
#include "Items/StowbayStore.h"
#include "Views/StowbayContentView.h"
#include "Views/StowbayRootView.h"

#include "Files/Pasteboard.h"
#include "Session/DesktopSession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <algorithm>

double StowbayPanelController::timeScale = 1.0;

namespace {
QList<QUuid> ids(const QList<StowbayItem> &items) {
    QList<QUuid> ids;
    ids.reserve(items.size());
    for (const StowbayItem &item : items)
        ids.append(item.id);
    return ids;
}
QEasingCurve bezier(QPointF c1, QPointF c2) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(c1, c2, QPointF(1, 1));
    return curve;
}
int milliseconds(double seconds) {
    return qRound(seconds * StowbayPanelController::timeScale * 1000);
}
} // namespace

StowbayPanelController::StowbayPanelController(StowbayStore &store, StowbayInteraction &interaction,
                                               AppSettings &settings, std::function<bool()> isDragActive,
                                               QObject *parent)
    : QObject(parent),
      // Slides in with a slight overshoot that settles back; slides out speeding up.
      mouseLocation([] { return QCursor::pos(); }), m_store(store), m_interaction(interaction),
      m_settings(settings), m_isDragActive(std::move(isDragActive)),
      m_spring(bezier({0.25, 1.3}, {0.4, 1.0})), m_ease(bezier({0.42, 0}, {1, 1})) {
    m_panel = new StowbayPanel(QRect(0, 0, 240, 300));
    m_background = new StowbayBackgroundView;
    m_background->setGeometry(0, 0, 240, 300);
    m_panel->setContentView(m_background);
    m_model.setEdge(m_settings.edge());

    auto *root = m_root = new StowbayRootView(m_model, m_store, m_interaction, m_background);
    root->setGeometry(m_background->rect());
    auto *layout = new QHBoxLayout(m_background);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);

    // Callbacks and subscriptions hold the controller through its parent-less lifetime: they are
    // connected with it as context, so none outlives it.
    QPointer<StowbayPanelController> self(this);
    m_model.onTabClick = [self] {
        if (self) self->present(true);
    };
    // Files dragged onto the tab open the panel for the drop, as a shake would.
    m_model.onTabFileDrag = [self] {
        if (self && self->m_state == State::tab) self->present(false);
    };
    m_model.onDropURLs = [self](const QList<QUrl> &urls) {
        // The item-count subscription adapts the panel.
        if (self) self->m_store.add(urls);
    };
    m_model.onAddFiles = [self] {
        if (self) self->addFiles();
    };
    m_model.onUndo = [self] {
        if (self) self->undo();
    };
    m_model.onFold = [self] {
        if (self) self->collapse();
    };
    m_tabRest = new QTimer(this);
    m_tabRest->setSingleShot(true);
    connect(m_tabRest, &QTimer::timeout, this, [this] {
        if (m_state == State::tab) present(false);
    });
    m_background->onEnter = [self] {
        if (!self) return;
        self->m_pointerAtExit.reset();
        if (self->m_state == State::tab) self->m_tabRest->start(milliseconds(tabRest));
    };
    m_background->onExit = [self] {
        if (!self) return;
        self->m_tabRest->stop();
        self->m_pointerAtExit = self->mouseLocation();
        if (self->m_state != State::expanded) return;
        self->settle();
        if (!self->m_pinnedOpen || self->m_wentElsewhere) self->scheduleCollapse(1.2);
    };
    m_panel->keyHandler = [self](QKeyEvent *event) { return self && self->handleKey(event); };

    // The count is taken when the items change and delivered on a later turn of the loop, once per
    // change of the count.
    m_publishedCount = int(m_store.items().size());
    m_rowOrder = ids(m_store.items());
    connect(&m_store, &StowbayStore::itemsChanged, this, [this] {
        // How far the first row that stays moved up the list: the panel follows it while the
        // pointer is inside, so that the rows stay where they are on screen.
        const QList<QUuid> order = ids(m_store.items());
        for (int i = 0; i < m_rowOrder.size(); ++i)
            if (const qsizetype now = order.indexOf(m_rowOrder[i]); now >= 0) {
                m_rowsMovedUp += i - int(now);
                break;
            }
        m_rowOrder = order;
        const int count = int(m_store.items().size());
        if (count == m_publishedCount) return;
        m_publishedCount = count;
        QMetaObject::invokeMethod(this, &StowbayPanelController::itemCountChanged, Qt::QueuedConnection);
    });
    connect(
        &m_settings, &AppSettings::edgeChanged, this,
        [this](StowbayEdge edge) {
            m_model.setEdge(edge);
            relayout();
        },
        Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        watchScreen(screen);
        QMetaObject::invokeMethod(this, &StowbayPanelController::relayout, Qt::QueuedConnection);
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &StowbayPanelController::relayout,
            Qt::QueuedConnection);
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(
        &StowbayDragState::center(), &StowbayDragState::stowbayInternalDragEnded, this,
        [this] {
            m_store.refresh();
            scheduleCollapse(2.0); // the timer looks at the state when it fires
        },
        Qt::QueuedConnection);
}

StowbayPanelController::~StowbayPanelController() {
    stopAnimation();
    delete m_panel;
}

StowbayContentView *StowbayPanelController::content() {
    return m_root->content();
}

void StowbayPanelController::watchScreen(QScreen *screen) {
    connect(screen, &QScreen::availableGeometryChanged, this, &StowbayPanelController::relayout,
            Qt::QueuedConnection);
}

// Geometry ----------------------------------------------------------------------------------------

QRect StowbayPanelController::expandedFrame(const QRect &visible, int itemCount, StowbayEdge edge) {
    const QRectF v(visible);
    const double content =
        itemCount == 0 ? emptyHeight : fixedHeight + rowHeight * std::min(itemCount, rowsCounted);
    const double cap = 0.7 * v.height();
    QRectF f;
    if (edge == StowbayEdge::bottom) {
        const double w = std::min(v.width() - 16, double(bottomMaxWidth));
        const double h = std::min(cap, content); // as many rows as at a side, before the list scrolls
        f = QRectF(v.center().x() - w / 2, v.bottom() - edgeInset - h, w, h);
    } else {
        const double h = std::min(cap, std::max(content, double(emptyHeight)));
        const double x =
            edge == StowbayEdge::right ? v.right() - expandedWidth - edgeInset : v.left() + edgeInset;
        // The empty panel is centred; rows make it grow downwards, so that the drop zone under
        // its header stays where the user dropped before, until the screen's foot pushes it up.
        const double top =
            std::min(v.center().y() - std::min(h, double(emptyHeight)) / 2, v.bottom() + 1 - edgeInset - h);
        f = QRectF(x, std::max(v.top(), top), expandedWidth, h);
    }
    return f.toRect();
}

QRect StowbayPanelController::tabFrame(const QRect &visible, StowbayEdge edge) {
    const QRectF v(visible);
    QRectF f;
    switch (edge) {
    case StowbayEdge::right:
        f = QRectF(v.right() - tabThickness, v.center().y() - tabLength / 2.0, tabThickness, tabLength);
        break;
    case StowbayEdge::left:
        f = QRectF(v.left(), v.center().y() - tabLength / 2.0, tabThickness, tabLength);
        break;
    case StowbayEdge::bottom:
        f = QRectF(v.center().x() - tabLength / 2.0, v.bottom() - tabThickness, tabLength, tabThickness);
        break;
    }
    return f.toRect();
}

QRect StowbayPanelController::slidOut(const QRect &frame, StowbayEdge edge) {
    switch (edge) {
    case StowbayEdge::right:
        return frame.translated(frame.width() + slideDistance, 0);
    case StowbayEdge::left:
        return frame.translated(-(frame.width() + slideDistance), 0);
    case StowbayEdge::bottom:
        return frame.translated(0, frame.height() + slideDistance);
    }
    return frame;
}

QRect StowbayPanelController::expandedFrame(QScreen *screen) const {
    return expandedFrame(screen->availableGeometry(), int(m_store.items().size()), m_settings.edge());
}

QRect StowbayPanelController::tabFrame(QScreen *screen) const {
    return tabFrame(screen->availableGeometry(), m_settings.edge());
}

std::function<void()> StowbayPanelController::stopAnimation() {
    if (!m_animation) return {};
    m_animation->disconnect(this);
    m_animation->stop();
    m_animation->deleteLater();
    m_animation = nullptr;
    return std::exchange(m_animationCompletion, {});
}

void StowbayPanelController::animate(const QRect &to, double alpha, double duration,
                                     const QEasingCurve &timing, std::function<void()> completion) {
    // A new move takes over from the one under way, which counts as over.
    if (auto overtaken = stopAnimation()) QMetaObject::invokeMethod(this, overtaken, Qt::QueuedConnection);
    auto *group = new QParallelAnimationGroup(this);
    auto *frame = new QPropertyAnimation(m_panel, "geometry", group);
    frame->setEndValue(to);
    auto *opacity = new QPropertyAnimation(m_panel, "fade", group);
    opacity->setEndValue(alpha);
    for (QPropertyAnimation *a : {frame, opacity}) {
        a->setDuration(milliseconds(duration));
        a->setEasingCurve(timing);
    }
    m_animation = group;
    m_animationCompletion = std::move(completion);
    connect(group, &QAbstractAnimation::finished, this, [this, group] {
        group->deleteLater();
        if (m_animation != group) return;
        m_animation = nullptr;
        if (auto done = std::exchange(m_animationCompletion, {})) done();
    });
    group->start();
}

// Operations --------------------------------------------------------------------------------------

void StowbayPanelController::present(bool pinned, bool takeKeyboard) {
    invalidateCollapseTimer();
    m_tabRest->stop();
    if (pinned) m_pinnedOpen = true;
    m_wentElsewhere = false;
    QScreen *s = pointerScreen();
    if (!s) return;
    m_store.refresh();
    m_store.purgeExpired();
    m_store.setWatching(true); // what the rows show follows the disk while the panel is open
    ++m_generation;
    const QRect f = expandedFrame(s);
    if (m_state != State::expanded) {
        m_screen = s;
        m_screenName = s->name();
        m_model.setIsTab(false);
        m_background->setCornerRadius(StowbayBackgroundView::expandedRadius);
        m_panel->setFade(0);
        m_panel->setGeometry(slidOut(f));
        m_panel->orderFrontRegardless();
        m_state = State::expanded;
        animate(f, 1, 0.38, m_spring);
        // A clear that can still be undone is offered again, where the user left it.
        if (m_store.canUndoClear() && !content()->offersUndo())
            content()->showUndo(QStringLiteral("Cleared"), true);
    } else if (s != m_screen || m_panel->geometry() != f) {
        m_screen = s;
        m_screenName = s->name();
        animate(f, 1, 0.3, m_spring); // moves from where it is
    }
    if (!pinned) {
        scheduleCollapse(3.0);
        return;
    }
    if (!takeKeyboard) return;
    m_panel->makeKey();
    content()->focusList();
}

void StowbayPanelController::showTabIfNeeded() {
    if (m_state != State::hidden || m_store.items().isEmpty()) return;
    if (QScreen *s = pointerScreen()) {
        m_screen = s;
        m_screenName = s->name();
        showTab(s);
    }
}

void StowbayPanelController::showTab(QScreen *s) {
    ++m_generation;
    m_state = State::tab;
    m_model.setIsTab(true);
    m_background->setCornerRadius(StowbayBackgroundView::tabRadius);
    const QRect f = tabFrame(s);
    m_panel->setFade(0);
    m_panel->setGeometry(slidOut(f));
    m_panel->orderFrontRegardless();
    animate(f, 1, 0.3, m_spring);
}

void StowbayPanelController::collapse() {
    invalidateCollapseTimer();
    m_pinnedOpen = false;
    m_wentElsewhere = false;
    if (m_state != State::expanded) return;
    QPointer<QScreen> s = m_screen ? m_screen.data() : pointerScreen();
    if (!s) return;
    m_panel->resignKey();
    m_store.setWatching(false);
    if (m_store.items().isEmpty()) {
        hide();
        return;
    }
    const qint64 g = ++m_generation;
    m_state = State::tab;
    animate(slidOut(m_panel->geometry()), 0, 0.2, m_ease, [this, g, s] {
        // The screen may have gone while the panel slid out; the next relayout places the tab.
        if (m_generation == g && s) showTab(s);
    });
}

void StowbayPanelController::hide() {
    invalidateCollapseTimer();
    m_store.setWatching(false);
    m_panel->resignKey();
    const qint64 g = ++m_generation;
    m_state = State::hidden;
    animate(slidOut(m_panel->geometry()), 0, 0.22, m_ease, [this, g] {
        if (m_generation == g) m_panel->orderOut();
    });
}

void StowbayPanelController::itemCountChanged() {
    switch (m_state) {
    case State::hidden:
        break;
    case State::tab:
        if (m_store.items().isEmpty()) hide();
        break;
    case State::expanded:
        // The generation stays: a pending completion is still valid, and so is the timer.
        if (!m_screen) break;
        if (!m_animation && m_panel->geometry().contains(mouseLocation())) {
            // Under the pointer the rows that remain stay put: the panel changes at its far end,
            // and settles to its frame once the pointer leaves.
            QRect f = expandedFrame(m_screen);
            const QRect visible = m_screen->availableGeometry();
            const int top = m_panel->y() + std::exchange(m_rowsMovedUp, 0) * StowbayContentView::rowPitch;
            f.moveTop(std::max(visible.top(), std::min(top, visible.bottom() + 1 - edgeInset - f.height())));
            m_panel->setGeometry(f);
        } else {
            animate(expandedFrame(m_screen), 1, 0.25, bezier({0, 0}, {0.58, 1}));
        }
        break;
    }
    m_rowsMovedUp = 0;
}

void StowbayPanelController::settle() {
    if (m_state != State::expanded || !m_screen || m_animation) return;
    const QRect f = expandedFrame(m_screen);
    if (m_panel->geometry() != f) animate(f, 1, 0.25, bezier({0, 0}, {0.58, 1}));
}

void StowbayPanelController::scheduleCollapse(double after) {
    invalidateCollapseTimer();
    m_collapseTimer = new QTimer(this);
    m_collapseTimer->setSingleShot(true);
    m_collapseTimer->setTimerType(Qt::CoarseTimer);
    connect(m_collapseTimer, &QTimer::timeout, this, &StowbayPanelController::collapseTimerFired);
    m_collapseTimer->start(milliseconds(after));
}

void StowbayPanelController::invalidateCollapseTimer() {
    if (!m_collapseTimer) return;
    m_collapseTimer->stop();
    m_collapseTimer->deleteLater();
    m_collapseTimer = nullptr;
}

bool StowbayPanelController::isCollapseArmed() const {
    return m_collapseTimer && m_collapseTimer->isActive();
}

void StowbayPanelController::collapseTimerFired() {
    if (m_state != State::expanded || (m_pinnedOpen && !m_wentElsewhere)) return;
    // Files hovering over the panel keep it open too: in a Wayland session nothing else tells of
    // a drag from another program, nor where the pointer is while it lasts.
    // A menu of the panel's keeps it open too.
    const QPoint pointer = mouseLocation();
    // In a Wayland session the pointer's place is known only while it is over X11 windows: said to
    // be inside the panel, unmoved since it left it, it has gone where Stowbay cannot see.
    const bool pointerGone = DesktopSession::current().isWayland() && m_pointerAtExit == pointer &&
                             m_panel->geometry().contains(pointer);
    // So do its own menus and dialogs.
    if ((m_isDragActive && m_isDragActive()) || StowbayDragState::internalActive || content()->targeted() ||
        QApplication::activePopupWidget() || QApplication::activeModalWidget() || m_fileDialog)
        scheduleCollapse(1.0);
    else if (!pointerGone &&
             m_panel->geometry().adjusted(-nearPanel, -nearPanel, nearPanel, nearPanel).contains(pointer))
        scheduleCollapse(1.5);
    else if (m_root->hasContent() &&
             (content()->holdsPanelOpen() || (m_pinnedOpen && content()->offersUndo())))
        scheduleCollapse(1.0); // the panel waits while it offers to undo a removal
    else
        collapse();
}

void StowbayPanelController::hotKeyPressed() {
    // A panel shown without the keyboard is not yet where the user's keys go: the shortcut gives
    // them to it rather than folding it away.
    if (m_state == State::expanded && m_panel->isKeyWindow())
        collapse();
    else
        present(true);
}

void StowbayPanelController::toggle(bool takeKeyboard) {
    if (m_state == State::expanded)
        collapse();
    else
        present(true, takeKeyboard);
}

void StowbayPanelController::dragEnded() {
    if (m_state == State::expanded && !m_pinnedOpen) scheduleCollapse(1.5);
}

void StowbayPanelController::pointerReleased(bool onPanel) {
    if (m_state != State::expanded || !m_pinnedOpen) return;
    // A click in one of Stowbay's own windows (a menu, a dialog, the preview) is no going away.
    const bool ours = onPanel || QApplication::activePopupWidget() || QApplication::activeModalWidget() ||
                      m_fileDialog || QApplication::topLevelAt(mouseLocation());
    m_wentElsewhere = !ours;
    if (m_wentElsewhere) scheduleCollapse(0.5); // the timer waits for the pointer to be away
}

bool StowbayPanelController::handleKey(QKeyEvent *event) {
    StowbayContentView *view = content();
    if (view->activateFocusedControl(event)) return true;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = modifiers == Qt::ControlModifier;
    const QList<QUuid> selection = m_interaction.orderedSelection();
    switch (event->key()) {
    case Qt::Key_A:
        if (!ctrl) return false;
        m_interaction.selectAll();
        return true;
    case Qt::Key_C:
        return ctrl && view->copyFiles(selection);
    case Qt::Key_V:
        return ctrl && pasteFiles();
    case Qt::Key_Z:
        if (!ctrl) return false;
        undo();
        return true;
    case Qt::Key_Space:
        if (selection.isEmpty()) return false;
        QuickLookController::shared().show(m_interaction.urls(selection));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (selection.isEmpty() || modifiers) return false;
        m_interaction.open(selection);
        return true;
    case Qt::Key_Menu:
        return !modifiers && view->openRowMenu();
    case Qt::Key_F10:
        return modifiers == Qt::ShiftModifier && view->openRowMenu();
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
        if (selection.isEmpty()) return false;
        // The row that takes the first removed one's place becomes the keyboard's, so that the
        // user goes on from where they were.
        const qsizetype at = ids(m_store.items()).indexOf(selection.constFirst());
        m_store.remove(selection); // the content offers to undo it
        if (!m_store.items().isEmpty()) {
            m_interaction.stepTo(at, false);
            content()->focusList();
            content()->showCurrentRow();
        }
        return true;
    }
    case Qt::Key_Escape:
        collapse();
        return true;
    default:
        return walkList(event);
    }
}

bool StowbayPanelController::walkList(QKeyEvent *event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers & ~Qt::ShiftModifier) return false;
    const bool extend = modifiers == Qt::ShiftModifier;
    const QList<StowbayItem> &items = m_store.items();
    if (items.isEmpty()) return false;
    const int page = std::max(1, content()->list()->viewport()->height() / StowbayContentView::rowPitch);
    switch (event->key()) {
    case Qt::Key_Up:
        m_interaction.step(-1, extend);
        break;
    case Qt::Key_Down:
        m_interaction.step(1, extend);
        break;
    case Qt::Key_PageUp:
        m_interaction.step(-page, extend);
        break;
    case Qt::Key_PageDown:
        m_interaction.step(page, extend);
        break;
    case Qt::Key_Home:
        m_interaction.stepTo(0, extend);
        break;
    case Qt::Key_End:
        m_interaction.stepTo(items.size() - 1, extend);
        break;
    default:
        return false;
    }
    content()->focusList();
    content()->showCurrentRow();
    return true;
}

bool StowbayPanelController::undo() {
    const QList<QUuid> restored = m_store.undoRemoval();
    if (restored.isEmpty()) return false;
    // What came back is selected, where the user can see it.
    m_interaction.setSelection(QSet<QUuid>(restored.begin(), restored.end()));
    content()->showNotice(restored.size() == 1 ? QStringLiteral("1 item put back")
                                               : QStringLiteral("%1 items put back").arg(restored.size()));
    return true;
}

bool StowbayPanelController::pasteFiles() {
    const QList<QUrl> files = Pasteboard::files();
    if (files.isEmpty()) return false;
    m_store.add(files);
    return true;
}

void StowbayPanelController::addFiles() {
    if (m_fileDialog) {
        m_fileDialog->raise();
        m_fileDialog->activateWindow();
        return;
    }
    auto *dialog = new QFileDialog(nullptr, QStringLiteral("Add Files to Stowbay"), QDir::homePath());
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // It keeps the panel open while it is up.
    const bool wasPinned = m_pinnedOpen, hadKeyboard = m_panel->isKeyWindow();
    m_pinnedOpen = m_state == State::expanded;
    // Qt's own dialog tells of the choice as file names, a platform dialog as URLs: the accepted
    // dialog's selection is the same either way, whether picked, typed or double-clicked.
    connect(dialog, &QDialog::accepted, this, [this, dialog] { m_store.add(dialog->selectedUrls()); });
    connect(dialog, &QObject::destroyed, this, [this, wasPinned, hadKeyboard] {
        m_pinnedOpen = wasPinned;
        m_wentElsewhere = false;
        if (m_state == State::expanded && !m_pinnedOpen) scheduleCollapse(1.5);
        // The keyboard goes back to the panel it was taken from: no window manager hands it back.
        if (m_state == State::expanded && hadKeyboard) m_panel->makeKey();
    });
    m_fileDialog = dialog;
    dialog->open();
}

void StowbayPanelController::relayout() {
    if (m_state == State::hidden) return;
    QScreen *s = currentScreenStillAttached();
    if (!s) s = pointerScreen();
    if (!s) return;
    m_screen = s;
    m_screenName = s->name();
    ++m_generation;
    stopAnimation(); // its completion is overtaken by the new generation
    if (m_state == State::tab) {
        m_model.setIsTab(true);
        m_background->setCornerRadius(StowbayBackgroundView::tabRadius);
    }
    m_panel->setFade(1);
    m_panel->setGeometry(m_state == State::expanded ? expandedFrame(s) : tabFrame(s));
    m_panel->orderFrontRegardless();
}

QScreen *StowbayPanelController::pointerScreen() const {
    const QPoint location = mouseLocation();
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        if (screen->geometry().contains(location)) return screen;
    if (QScreen *primary = QGuiApplication::primaryScreen()) return primary;
    return screens.isEmpty() ? nullptr : screens.first();
}

QScreen *StowbayPanelController::currentScreenStillAttached() const {
    if (m_screenName.isEmpty()) return nullptr;
    for (QScreen *screen : QGuiApplication::screens())
        if (screen->name() == m_screenName) return screen;
    return nullptr;
}
