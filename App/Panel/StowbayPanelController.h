// Decides where the panel is and how it gets there. It is always hidden, expanded (the full panel
// docked at the chosen screen edge) or a tab (a small handle at that edge standing for a stowbay
// that holds items). It answers the drag trigger, the shortcut, the menu, the pointer coming and
// going, keys, drops, changes of the item count, the edge and the screens, and the end of a drag
// out of the panel. One collapse timer; a generation count makes an overtaken animation's
// completion do nothing.
#pragma once

#include "Panel/StowbayPanel.h"
#include "Settings/AppSettings.h"
#include "Views/PanelModel.h"

#include <QEasingCurve>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <functional>
#include <optional>

class QAbstractAnimation;
class QKeyEvent;
class QTimer;
class StowbayContentView;
class StowbayInteraction;
class StowbayRootView;
class StowbayStore;

class StowbayPanelController : public QObject {
    Q_OBJECT
public:
    enum class State { hidden, expanded, tab };

    // Panel sizes, in points.
    static constexpr int expandedWidth = 240;
    static constexpr int emptyHeight = 230;
    static constexpr int fixedHeight = 190;
    static constexpr int rowHeight = 52;
    static constexpr int rowsCounted = 7;
    static constexpr int bottomMaxWidth = 360;
    static constexpr int edgeInset = 8;
    static constexpr int tabThickness = 16;
    static constexpr int tabLength = 96;
    static constexpr int slideDistance = 24;
    static constexpr int nearPanel = 12;
    // How long the pointer rests on the tab before it opens: a pass on the way elsewhere does not.
    static constexpr double tabRest = 0.3;

    StowbayPanelController(StowbayStore &store, StowbayInteraction &interaction, AppSettings &settings,
                           std::function<bool()> isDragActive, QObject *parent = nullptr);
    ~StowbayPanelController() override;

    // Slides the expanded panel in on the pointer's screen (or moves it there). Pinned: it stays
    // open until Escape, the shortcut or the user's going elsewhere. A panel presented on purpose
    // from within the desktop (the shortcut, the tray, a click) takes the keyboard; one presented
    // from a terminal leaves it where the user is typing.
    void present(bool pinned) { present(pinned, pinned); }
    void present(bool pinned, bool takeKeyboard);
    // At launch: the tab, when the panel is hidden and the stowbay holds items.
    void showTabIfNeeded();
    // The expanded panel becomes the tab, or goes away when the stowbay is empty.
    void collapse();
    // (Re-)arms the one collapse timer.
    void scheduleCollapse(double after);

    // The shortcut: collapses an expanded panel that has the keyboard, else presents it pinned open
    // with the keyboard.
    void hotKeyPressed();
    // `stowbay toggle` and the tray icon's click: collapses an expanded panel, whether it has the
    // keyboard or not (a click on the icon may have taken it), else presents it pinned open.
    void toggle(bool takeKeyboard);
    // A file drag from elsewhere ended: an expanded panel not pinned open collapses soon.
    void dragEnded();
    // A click ended, on the panel or elsewhere: a panel pinned open folds once the user has gone
    // to another window and the pointer is away from it.
    void pointerReleased(bool onPanel);
    // Opens the file dialog; the files chosen are added.
    void addFiles();
    // Adds the files on the clipboard; false when it holds none.
    bool pasteFiles();
    // Puts back what the last removal took; false when there is nothing to put back.
    bool undo();

    State state() const { return m_state; }
    bool pinnedOpen() const { return m_pinnedOpen; }
    void setPinnedOpen(bool pinned) { m_pinnedOpen = pinned; }
    qint64 generation() const { return m_generation; }
    QScreen *screen() const { return m_screen; }
    bool isCollapseArmed() const;

    PanelModel &model() { return m_model; }
    StowbayPanel &panel() { return *m_panel; }
    StowbayBackgroundView &background() { return *m_background; }
    StowbayContentView *content();

    // Where the panel goes on a screen whose usable area (without panels and docks) is `visible`.
    static QRect expandedFrame(const QRect &visible, int itemCount, StowbayEdge edge);
    static QRect tabFrame(const QRect &visible, StowbayEdge edge);
    // The frame moved off the screen beyond the edge, where a slide starts or ends.
    static QRect slidOut(const QRect &frame, StowbayEdge edge);

    QRect expandedFrame(QScreen *screen) const;
    QRect tabFrame(QScreen *screen) const;
    QRect slidOut(const QRect &frame) const { return slidOut(frame, m_settings.edge()); }

    // Moves the panel to `to` and fades it to `alpha` over `duration` seconds; `completion` runs
    // when the move is over, or overtaken by the next one.
    void animate(const QRect &to, double alpha, double duration, const QEasingCurve &timing,
                 std::function<void()> completion = {});

    // Every delay and duration is multiplied by this (tests run the same moves faster).
    static double timeScale;
    // Where the pointer is, in screen coordinates (tests put it where they want).
    std::function<QPoint()> mouseLocation;

private:
    void showTab(QScreen *screen);
    void hide();
    void itemCountChanged();
    // Moves a panel that kept its rows under the pointer back to its frame.
    void settle();
    bool handleKey(QKeyEvent *event);
    // Arrows, Home, End, Page Up and Page Down on the list.
    bool walkList(QKeyEvent *event);
    void relayout();
    QScreen *pointerScreen() const;
    QScreen *currentScreenStillAttached() const;
    void collapseTimerFired();
    void invalidateCollapseTimer();
    void watchScreen(QScreen *screen);
    // Ends the move under way, if any, and hands back its completion.
    std::function<void()> stopAnimation();

    StowbayStore &m_store;
    StowbayInteraction &m_interaction;
    AppSettings &m_settings;
    std::function<bool()> m_isDragActive;
    // Where the pointer was said to be when it last left the panel (none since it came back).
    std::optional<QPoint> m_pointerAtExit;
    PanelModel m_model;
    StowbayPanel *m_panel = nullptr;
    StowbayBackgroundView *m_background = nullptr;
    StowbayRootView *m_root = nullptr;
    State m_state = State::hidden;
    QPointer<QScreen> m_screen;
    QString m_screenName; // screens are matched by name: a changed setup brings new screen objects
    bool m_pinnedOpen = false;
    bool m_wentElsewhere = false; // a click elsewhere since the panel was presented pinned
    QTimer *m_tabRest = nullptr;
    qint64 m_generation = 0;
    QTimer *m_collapseTimer = nullptr;
    QEasingCurve m_spring;
    QEasingCurve m_ease;
    QPointer<QAbstractAnimation> m_animation;
    std::function<void()> m_animationCompletion;
    int m_publishedCount = 0;
    QList<QUuid> m_rowOrder;
    QPointer<QWidget> m_fileDialog;
    int m_rowsMovedUp = 0;
};
