#include "Shell/AppDelegate.h"

#include "Interaction/StowbayInteraction.h"
#include "Panel/StowbayPanelController.h"
#include "Session/DesktopSession.h"
#include "Settings/SettingsView.h"
#include "Shell/WelcomeView.h"
#include "Triggers/EdgeTrigger.h"
#include "Triggers/HotKeyManager.h"
#include "Views/StowbayContentView.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
void showModalAlert(const QString &message, const QString &informativeText) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Stowbay"), message, QMessageBox::Ok);
    box.setInformativeText(informativeText);
    box.setDefaultButton(QMessageBox::Ok);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}
} // namespace

AppDelegate::AppDelegate(AppSettings &settings, QObject *parent)
    : QObject(parent), showAlert(showModalAlert), m_settings(settings), m_store(settings),
      m_watcher(DragPasteboard::system(), MouseMonitor::system(), settings) {}

// The windows go with the delegate that owns them.
AppDelegate::~AppDelegate() {
    if (m_clickMonitor) MouseMonitor::system().removeMonitor(*m_clickMonitor);
    delete m_welcomeWindow;
}

// Stowbay has no main window and no taskbar entry; closing any of its windows never quits it.
void AppDelegate::setActivationPolicyAccessory() {
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
}

void AppDelegate::applicationWillFinishLaunching() {
    setActivationPolicyAccessory();
}

void AppDelegate::applicationDidFinishLaunching() {
    // 1. Accessory again.
    setActivationPolicyAccessory();
    // 2. The selection model.
    m_interaction = std::make_unique<StowbayInteraction>(m_store, m_settings);
    // 3. The panel controller, which asks the watcher whether a file drag is in progress.
    QPointer<AppDelegate> self(this);
    m_controller = std::make_unique<StowbayPanelController>(m_store, *m_interaction, m_settings, [self] {
        return self && (self->m_watcher.isDragging() ||
                        (self->m_edgeTrigger && self->m_edgeTrigger->holdsFileDrag()));
    });
    // 4. A shake (or any file drag) presents the panel, not pinned.
    m_watcher.onTrigger = [self] {
        if (self) self->m_controller->present(false);
    };
    // 5. The end of a file drag lets an expanded panel that is not pinned open collapse.
    m_watcher.onDragEnded = [self] {
        if (self) self->m_controller->dragEnded();
    };
    // 6.
    m_watcher.start();
    // A click into another window lets a panel pinned open fold once the pointer is away.
    m_clickMonitor = MouseMonitor::system().addMonitor([self](const MouseEvent &event) {
        if (self && event.type == MouseEvent::Type::leftMouseUp)
            self->m_controller->pointerReleased(event.onPanel);
    });
    // In a Wayland session other programs' drags are seen only where they meet Stowbay's windows:
    // files dragged to the screen edge present the panel, which takes the drop.
    if (DesktopSession::current().isWayland()) {
        m_edgeTrigger = std::make_unique<EdgeTrigger>(DragPasteboard::system(), m_settings);
        m_edgeTrigger->onTrigger = [self] {
            if (self) self->m_controller->present(false);
        };
        m_edgeTrigger->onDropURLs = [self](const QList<QUrl> &urls) {
            if (self) self->m_store.add(urls);
        };
        m_edgeTrigger->start();
    }
    // 7. The shortcut collapses an expanded panel, else presents it pinned open.
    HotKeyManager &hotKeys = HotKeyManager::shared();
    hotKeys.handler = [self] {
        if (self) self->m_controller->hotKeyPressed();
    };
    // 8.
    hotKeys.registerHotKey(m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers());
    // 9. A new shortcut replaces the old one on a later turn of the loop; a change of both fields
    // registers twice, the second time with the final pair.
    const auto reregister = [this] {
        HotKeyManager::shared().registerHotKey(m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers());
    };
    connect(&m_settings, &AppSettings::hotkeyKeyCodeChanged, this, reregister, Qt::QueuedConnection);
    connect(&m_settings, &AppSettings::hotkeyModifiersChanged, this, reregister, Qt::QueuedConnection);

    // 10. Choosing a shorter period clears old items at once, on a later turn of the loop. The
    // signal fires only on assignment, so the current value is never delivered here.
    const auto purge = [this] { m_store.purgeExpired(); };
    connect(&m_settings, &AppSettings::autoClearChanged, this, purge, Qt::QueuedConnection);

    // 11. The tray icon and its menu.
    setUpStatusItem();

    // 12. Drop what has expired, then ask the disk about the rest.
    m_store.purgeExpired();
    m_store.refresh();

    // 13. The tab, when the stowbay holds items.
    m_controller->showTabIfNeeded();

    // 14. Auto-clear once a minute; a few seconds late is fine.
    m_purgeTimer = new QTimer(this);
    m_purgeTimer->setInterval(purgeIntervalMs);
    m_purgeTimer->setTimerType(Qt::CoarseTimer);
    connect(m_purgeTimer, &QTimer::timeout, this, purge);
    m_purgeTimer->start();

    // 15. The first run explains the gesture.
    m_welcomeWindow = WelcomeView::showIfFirstRun(m_settings.d());
}

void AppDelegate::setUpStatusItem() {
    m_statusItem = new QSystemTrayIcon(this);
    m_statusItem->setIcon(statusItemImage());

    // The menu shows only the keys that work from anywhere: the global shortcut, beside the entry it
    // stands for.
    m_statusMenu = std::make_unique<QMenu>();
    connect(m_statusMenu.get(), &QMenu::aboutToShow, this, &AppDelegate::menuNeedsUpdate);
    // "Fold Stowbay" while the panel is shown.
    m_showItem = m_statusMenu->addAction(QStringLiteral("Show Stowbay"), this, [this] {
        if (m_controller->state() == StowbayPanelController::State::expanded)
            m_controller->collapse();
        else
            showStowbay();
    });
    m_showItem->setShortcutContext(Qt::WidgetShortcut); // shown, never taken from the menu itself
    m_statusMenu->addAction(QStringLiteral("Add Files…"), this, [this] { m_controller->addFiles(); });
    m_clearItem = m_statusMenu->addAction(QStringLiteral("Clear Stowbay"), this, &AppDelegate::clearStowbay);
    // While a clear can be undone; what comes back shows in the panel.
    m_undoClearItem = m_statusMenu->addAction(QStringLiteral("Undo Clear"), this, [this] {
        showStowbay();
        m_controller->undo();
    });
    m_statusMenu->addSeparator();
    m_statusMenu->addAction(QStringLiteral("Settings…"), this, &AppDelegate::openSettings);
    m_statusMenu->addAction(QStringLiteral("How Stowbay Works"), this, &AppDelegate::showWelcome);
    m_launchItem =
        m_statusMenu->addAction(QStringLiteral("Launch at Login"), this, &AppDelegate::toggleLaunchAtLogin);
    m_launchItem->setCheckable(true);
    m_statusMenu->addSeparator();
    m_statusMenu->addAction(QStringLiteral("Quit Stowbay"), this, &AppDelegate::quitApp);

    m_statusItem->setContextMenu(m_statusMenu.get());
    // Where no tray shows the icon (GNOME without an extension) the panel's header offers the menu.
    m_controller->model().menu = m_statusMenu.get();
    // A plain click shows the panel with the keyboard, or folds it; the menu is on the context click.
    connect(m_statusItem, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) m_controller->toggle(true);
            });
    connect(&m_store, &StowbayStore::itemsChanged, this, &AppDelegate::itemsChanged);
    itemsChanged();
    menuNeedsUpdate();
    // The one store failure the user hears of: the list could not be written (it stays in memory
    // and the next change tries again).
    connect(&m_store, &StowbayStore::saveFailed, m_statusItem, [this](const QString &reason) {
        m_statusItem->showMessage(QStringLiteral("Stowbay could not save its list"), reason,
                                  QSystemTrayIcon::Warning);
    });
    // Files that did not fit are not dropped silently: the user hears how many, once per add, in
    // the panel when it is open (where the drop was made), else from the tray.
    connect(&m_store, &StowbayStore::refusedWhenFull, m_statusItem, [this](int count) {
        if (m_controller->state() == StowbayPanelController::State::expanded)
            m_controller->content()->showNotice(
                QStringLiteral("Stowbay is full: %1 not added.").arg(StowbayContentView::filesText(count)));
        else
            m_statusItem->showMessage(QStringLiteral("Stowbay is full"), refusedText(count),
                                      QSystemTrayIcon::Information);
    });
    // Shows now when a tray is there, else as soon as one appears.
    m_statusItem->show();
}

void AppDelegate::menuNeedsUpdate() {
    m_launchItem->setChecked(LaunchAtLogin::isEnabled());
    const bool shown = m_controller->state() == StowbayPanelController::State::expanded;
    m_showItem->setText(shown ? QStringLiteral("Fold Stowbay") : QStringLiteral("Show Stowbay"));
    m_undoClearItem->setVisible(m_store.canUndoClear());
    m_showItem->setShortcut(QKeySequence::fromString(m_settings.hotkeyDisplay(), QKeySequence::NativeText));
}

// What the tray says of the list: its tool tip counts the files, and "Clear Stowbay" is there only
// when there is something to clear (pinned items stay).
void AppDelegate::itemsChanged() {
    const QList<StowbayItem> &items = m_store.items();
    m_statusItem->setToolTip(items.isEmpty() ? QStringLiteral("Stowbay")
                                             : QStringLiteral("Stowbay — ") +
                                                   StowbayContentView::filesText(int(items.size())));
    m_clearItem->setEnabled(std::any_of(items.begin(), items.end(), [](const auto &i) { return !i.pinned; }));
}

void AppDelegate::showStowbay(bool takeKeyboard) {
    m_controller->present(true, takeKeyboard);
}

void AppDelegate::clearStowbay() {
    m_store.clear();
}

void AppDelegate::openSettings() {
    m_settingsWindow = SettingsView::showWindow(m_settings, HotKeyManager::shared());
}

void AppDelegate::showWelcome() {
    if (!m_welcomeWindow) {
        m_welcomeWindow = WelcomeView::showWindow();
        return;
    }
    m_welcomeWindow->raise();
    m_welcomeWindow->activateWindow();
}

void AppDelegate::toggleLaunchAtLogin() {
    const bool enabled = LaunchAtLogin::isEnabled();
    // On success the check mark follows the next time the menu opens.
    if (const auto failure = LaunchAtLogin::set(!enabled))
        showAlert(QStringLiteral("Could not change Launch at Login"), *failure);
}

void AppDelegate::quitApp() {
    // Ends the main loop; main() then runs applicationWillTerminate through aboutToQuit.
    QCoreApplication::quit();
}

void AppDelegate::applicationWillTerminate() {
    // Several quit paths may meet here (the menu, a signal, the end of the session): run once.
    if (m_terminated) return;
    m_terminated = true;
    if (m_settings.keepOnQuit())
        m_store.flush();
    else
        m_store.deletePersisted(); // the items in memory go with the process
}

QString AppDelegate::refusedText(int count) {
    return QStringLiteral("It holds at most %1 items: %2 %3 not added.")
        .arg(StowbayStore::capacity)
        .arg(QLocale().toString(count),
             count == 1 ? QStringLiteral("file was") : QStringLiteral("files were"));
}

QIcon AppDelegate::statusItemImage() {
    // Drawn on a 64-unit grid: a dark rounded square, a light tray, a blue arrow down into it.
    QPainterPath tray;
    tray.moveTo(14, 36);
    tray.lineTo(24, 36);
    tray.lineTo(28, 42);
    tray.lineTo(36, 42);
    tray.lineTo(40, 36);
    tray.lineTo(50, 36);
    tray.lineTo(50, 48);
    tray.arcTo(42, 44, 8, 8, 0, -90);
    tray.lineTo(18, 52);
    tray.arcTo(14, 44, 8, 8, -90, -90);
    tray.closeSubpath();

    QPainterPath arrow;
    arrow.moveTo(32, 12);
    arrow.lineTo(32, 32);
    arrow.moveTo(24, 24);
    arrow.lineTo(32, 32);
    arrow.lineTo(40, 24);

    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2b, 0x2f, 0x36));
        p.drawRoundedRect(QRectF(4, 4, 56, 56), 14, 14);
        p.setBrush(QColor(0xe8, 0xea, 0xed));
        p.drawPath(tray);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0x8a, 0xb4, 0xf8), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(arrow);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
