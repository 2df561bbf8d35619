// The one system-wide keyboard shortcut of the program (by default Control-Option-S): registered
// with the platform, replaced when the user records a new one, and each press turned into a call
// of `handler` on the main thread.
#pragma once

#include "Input/GlobalHotKeys.h"
#include "Settings/GlobalShortcut.h"

#include <functional>
#include <optional>
#include <utility>

class HotKeyManager : public GlobalShortcut {
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

    // A combination registered while suspended is only remembered; resume() takes the latest one.
    void suspend() override;
    void resume() override;
    bool isSuspended() const { return m_suspended; }

    QString desktopTrigger() const override { return m_platform.desktopTrigger(); }
    bool reachesEveryWindow() const override { return m_platform.reachesEveryWindow(); }
    bool configuresOnDesktop() const override { return m_platform.configuresOnDesktop(); }
    void configureOnDesktop() override { m_platform.configureOnDesktop(); }

private:
    void installHandlerIfNeeded();

    GlobalHotKeys &m_platform;
    std::optional<GlobalHotKeys::Ref> m_hotKeyRef;
    std::optional<std::pair<quint32, quint32>> m_combination; // key code and modifiers last registered
    bool m_suspended = false;
    bool m_handlerInstalled = false;
};
