// The program's spine: owns every long-lived object, creates them at construction and at launch in
// one fixed order, puts the tray icon and its menu in place, runs the auto-clear timer, toggles
// launch at login, and decides at quit whether the stored items survive or are deleted.
#pragma once

#include "Items/StowbayStore.h"
#include "Settings/AppSettings.h"
#include "Triggers/DragWatcher.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class EdgeTrigger;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class StowbayInteraction;
class StowbayPanelController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int purgeIntervalMs = 60 * 1000;

    // Creates the settings (given), then the store, which loads the stored items.
    explicit AppDelegate(AppSettings &settings = AppSettings::shared(), QObject *parent = nullptr);
    ~AppDelegate() override;

    // Lifecycle, called by main() in this order; applicationWillTerminate also runs on
    // QCoreApplication::aboutToQuit.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    // The tray menu is about to open.
    void menuNeedsUpdate();

    // Menu actions. The panel takes the keyboard unless asked from a terminal.
    void showStowbay(bool takeKeyboard = true);
    void clearStowbay();
    void openSettings();
    void showWelcome();
    void toggleLaunchAtLogin();
    void quitApp();

    AppSettings &settings() const { return m_settings; }
    StowbayStore &store() { return m_store; }
    DragWatcher &watcher() { return m_watcher; }
    EdgeTrigger *edgeTrigger() const { return m_edgeTrigger.get(); }
    StowbayInteraction *interaction() const { return m_interaction.get(); }
    StowbayPanelController *controller() const { return m_controller.get(); }
    QSystemTrayIcon *statusItem() const { return m_statusItem; }
    QMenu *statusMenu() const { return m_statusMenu.get(); }
    QAction *launchItem() const { return m_launchItem; }
    QAction *clearItem() const { return m_clearItem; }
    QTimer *purgeTimer() const { return m_purgeTimer; }

    // Shows a failure as a modal alert and waits for it to be dismissed. Tests replace it.
    std::function<void(const QString &message, const QString &informativeText)> showAlert;

    // The tray icon's image: a tray with an arrow down into it, at the usual tray sizes.
    static QIcon statusItemImage();
    // What the tray says when `count` files did not fit on a full stowbay.
    static QString refusedText(int count);

private:
    void setActivationPolicyAccessory();
    void setUpStatusItem();
    void itemsChanged();

    AppSettings &m_settings;
    StowbayStore m_store;
    DragWatcher m_watcher;
    std::unique_ptr<EdgeTrigger> m_edgeTrigger;
    std::unique_ptr<StowbayInteraction> m_interaction;
    std::unique_ptr<StowbayPanelController> m_controller;
    std::optional<int> m_clickMonitor;
    QSystemTrayIcon *m_statusItem = nullptr;
    std::unique_ptr<QMenu> m_statusMenu; // a top-level widget: owned here, not by the QObject tree
    QAction *m_launchItem = nullptr;
    QAction *m_showItem = nullptr;
    QAction *m_clearItem = nullptr;
    QAction *m_undoClearItem = nullptr;
    QPointer<QWidget> m_settingsWindow;
    QPointer<QWidget> m_welcomeWindow;
    QTimer *m_purgeTimer = nullptr;
    bool m_terminated = false;
};
