#include "Settings/HotkeyRecorder.h"

#include "Input/KeyCodes.h"
#include "Settings/AppSettings.h"
#include "Settings/GlobalShortcut.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QToolButton>

namespace {
struct KeyLabel {
    quint32 virtualKey;
    const char *label;
};

// clang-format off
constexpr KeyLabel keyLabels[] = {
    {36, "↩"}, {48, "⇥"}, {49, "Space"}, {51, "⌫"}, {123, "←"}, {124, "→"}, {125, "↓"}, {126, "↑"},
    {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"},
    {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"},
};
// clang-format on

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

// The stored key code of a pressed key, whatever the modifiers made of it.
std::optional<quint32> virtualKeyOf(const QKeyEvent &event) {
    // Shift turns Tab into Backtab.
    const int key = event.key() == Qt::Key_Backtab ? int(Qt::Key_Tab) : event.key();
    if (auto code = KeyCodes::virtualKey(key, event.modifiers() & Qt::KeypadModifier)) return code;
    // Shift-1 arrives as "!": the key under it is the 1 key.
    return KeyCodes::virtualKeyOfScanCode(event.nativeScanCode());
}
} // namespace

HotkeyRecorder::HotkeyRecorder(AppSettings &settings, GlobalShortcut &hotKeys, QWidget *parent)
    : QWidget(parent), beep([] { QApplication::beep(); }), m_settings(settings), m_hotKeys(hotKeys) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("Show or hide Stowbay"), this), 0, Qt::AlignVCenter);
    row->addStretch(1);

    m_shortcut = new QLabel(this);
    m_shortcut->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QColor fill = palette().color(QPalette::PlaceholderText);
    fill.setAlphaF(0.2f);
    m_shortcut->setStyleSheet(
        QStringLiteral("QLabel { background: %1; border-radius: 6px; padding: 3px 8px; }")
            .arg(fill.name(QColor::HexArgb)));
    row->addWidget(m_shortcut, 0, Qt::AlignVCenter);

    // Buttons as wide as their words: the row has to hold "Press a shortcut…" too.
    m_change = new QToolButton(this);
    connect(m_change, &QToolButton::clicked, this, [this] {
        if (!m_recording && m_hotKeys.configuresOnDesktop())
            m_hotKeys.configureOnDesktop();
        else
            m_recording ? stop() : start();
    });
    row->addWidget(m_change, 0, Qt::AlignVCenter);

    m_reset = new QToolButton(this);
    m_reset->setText(QStringLiteral("&Reset"));
    connect(m_reset, &QToolButton::clicked, this, &HotkeyRecorder::reset);
    row->addWidget(m_reset, 0, Qt::AlignVCenter);

    connect(&m_settings, &AppSettings::changed, this, &HotkeyRecorder::updateTexts);
    connect(&m_hotKeys, &GlobalShortcut::desktopTriggerChanged, this, &HotkeyRecorder::updateTexts);
    updateTexts();
}

HotkeyRecorder::~HotkeyRecorder() {
    stop();
}

QAbstractButton *HotkeyRecorder::changeButton() const {
    return m_change;
}

QAbstractButton *HotkeyRecorder::resetButton() const {
    return m_reset;
}

QString HotkeyRecorder::label(quint32 virtualKey) {
    for (const KeyLabel &k : keyLabels)
        if (k.virtualKey == virtualKey) return QString::fromUtf8(k.label);
    const std::optional<int> key = KeyCodes::qtKey(virtualKey);
    if (!key) return QStringLiteral("?");
    return QKeySequence(*key).toString(QKeySequence::PortableText);
}

void HotkeyRecorder::start() {
    if (m_recording) return;
    m_recording = true;
    m_hotKeys.suspend();
    qApp->installEventFilter(this);
    updateTexts();
}

void HotkeyRecorder::stop() {
    if (!m_recording) return;
    // Also runs while the application object is being torn down.
    if (qApp) qApp->removeEventFilter(this);
    m_recording = false;
    m_hotKeys.resume();
    updateTexts();
}

void HotkeyRecorder::reset() {
    stop();
    m_settings.setHotkeyKeyCode(AppSettings::defaultKeyCode);
    m_settings.setHotkeyModifiers(AppSettings::defaultModifiers);
    m_settings.setHotkeyLabel(QStringLiteral("S"));
}

bool HotkeyRecorder::eventFilter(QObject *watched, QEvent *event) {
    if (!m_recording) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claims the key, so that no shortcut of the window (nor a button's mnemonic) acts on it.
        event->accept();
        return true;
    case QEvent::KeyPress:
        keyPressed(static_cast<const QKeyEvent &>(*event));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void HotkeyRecorder::keyPressed(const QKeyEvent &event) {
    if (event.key() == Qt::Key_Escape) {
        stop();
        return;
    }
    // A modifier pressed on its own is the start of a combination, not one.
    if (isModifierKey(event.key())) return;

    quint32 mask = 0;
    if (event.modifiers() & Qt::ControlModifier) mask |= AppSettings::controlKey;
    if (event.modifiers() & Qt::AltModifier) mask |= AppSettings::optionKey;
    if (event.modifiers() & Qt::ShiftModifier) mask |= AppSettings::shiftKey;
    if (event.modifiers() & Qt::MetaModifier) mask |= AppSettings::commandKey;
    const std::optional<quint32> keyCode = virtualKeyOf(event);
    // Shift alone is not enough for a shortcut anywhere on the desktop, and a key with no stored
    // code could never be taken: both are refused, and recording goes on.
    if (!(mask & (AppSettings::controlKey | AppSettings::optionKey | AppSettings::commandKey)) || !keyCode) {
        if (beep) beep();
        return;
    }
    m_settings.setHotkeyKeyCode(*keyCode);
    m_settings.setHotkeyModifiers(mask);
    m_settings.setHotkeyLabel(label(*keyCode));
    stop();
}

void HotkeyRecorder::hideEvent(QHideEvent *event) {
    // Closing the window ends a recording: later key presses are nobody's shortcut.
    stop();
    QWidget::hideEvent(event);
}

void HotkeyRecorder::updateTexts() {
    m_shortcut->setText(m_recording ? QStringLiteral("Press a shortcut…") : m_settings.hotkeyDisplay());
    // Alt+C and Alt+R reach them from anywhere in the window. Where the desktop's own dialog
    // takes the keys, "Change…" opens it, and the keys to put back are the desktop's to choose.
    const bool desktop = m_hotKeys.configuresOnDesktop();
    m_change->setText(m_recording ? QStringLiteral("Cancel")
                      : desktop   ? QStringLiteral("&Change…")
                                  : QStringLiteral("&Change"));
    m_reset->setVisible(!desktop);
}
