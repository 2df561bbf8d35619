// The one system-wide keyboard shortcut of the program (by default Control-Option-S): registered
// with the platform, replaced when the user records a new one, and each press turned into a call
// of `handler` on the main thread.
#pragma once

#include "Input/GlobalHotKeys.h"

#include <QObject>
#include <functional>
#include <optional>
#include <utility>

class HotKeyManager : public QObject {
    Q_OBJECT
public:
    explicit HotKeyManager(GlobalHotKeys &platform = GlobalHotKeys::system(), QObject *parent = nullptr);

    static HotKeyManager &shared();

    // Called once per press of the registered shortcut, on a later turn of the event loop.
    std::function<void()> handler;

    // Makes the given combination (a virtual key code and the stored modifier bits) the one
    // registered shortcut. The old one is released first; a refused one leaves no shortcut.
    void registerHotKey(quint32 keyCode, quint32 modifiers);

    bool isRegistered() const { return m_hotKeyRef.has_value(); }

    // Lets go of the shortcut until resume(), so that its keys reach the program's own windows (the
    // shortcut recorder, which must be able to record the current combination). A combination
    // registered meanwhile is only remembered; resume() takes the latest one.
    void suspend();
    void resume();
    bool isSuspended() const { return m_suspended; }

    // Where the desktop holds the shortcut for Stowbay, the keys it gave, in its own words (the
    // user may change them in the desktop's settings); empty where Stowbay holds it itself.
    QString desktopTrigger() const { return m_platform.desktopTrigger(); }
    // False where the shortcut reaches Stowbay only from some programs' windows: the desktop then
    // has to be told to run `stowbay toggle` for it.
    bool reachesEveryWindow() const { return m_platform.reachesEveryWindow(); }
    // Where the desktop has its own dialog for the shortcut, which replaces recording keys here.
    bool configuresOnDesktop() const { return m_platform.configuresOnDesktop(); }
    void configureOnDesktop() { m_platform.configureOnDesktop(); }

signals:
    void desktopTriggerChanged();

private:
    void installHandlerIfNeeded();

    GlobalHotKeys &m_platform;
    std::optional<GlobalHotKeys::Ref> m_hotKeyRef;
    std::optional<std::pair<quint32, quint32>> m_combination; // key code and modifiers last registered
    bool m_suspended = false;
    bool m_handlerInstalled = false;
};
