#include "Triggers/HotKeyManager.h"

#include <QPointer>

HotKeyManager::HotKeyManager(GlobalHotKeys &platform, QObject *parent)
    : GlobalShortcut(parent), m_platform(platform) {
    QPointer<HotKeyManager> self(this);
    m_platform.installChangeHandler([self] {
        if (self) emit self->desktopTriggerChanged();
    });
}

HotKeyManager &HotKeyManager::shared() {
    static HotKeyManager *instance = new HotKeyManager;
    return *instance;
}

void HotKeyManager::registerHotKey(quint32 keyCode, quint32 modifiers) {
    // Released before the new one is tried, even if that then fails.
    if (m_hotKeyRef) {
        m_platform.unregisterHotKey(*m_hotKeyRef);
        m_hotKeyRef.reset();
    }
    m_combination = {keyCode, modifiers};
    if (m_suspended) return;
    installHandlerIfNeeded();
    m_hotKeyRef = m_platform.registerHotKey(keyCode, modifiers);
}

void HotKeyManager::suspend() {
    if (m_suspended) return;
    m_suspended = true;
    if (m_hotKeyRef) {
        m_platform.unregisterHotKey(*m_hotKeyRef);
        m_hotKeyRef.reset();
    }
}

void HotKeyManager::resume() {
    if (!m_suspended) return;
    m_suspended = false;
    if (m_combination) registerHotKey(m_combination->first, m_combination->second);
}

void HotKeyManager::installHandlerIfNeeded() {
    if (m_handlerInstalled) return;
    // The press does no work itself: the handler runs on a later turn of the main loop.
    QPointer<HotKeyManager> self(this);
    m_handlerInstalled = m_platform.installPressHandler([self] {
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self && self->handler) self->handler();
            },
            Qt::QueuedConnection);
    });
}
