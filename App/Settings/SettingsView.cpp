#include "Settings/SettingsView.h"

#include "Session/DesktopSession.h"
#include "Settings/HotkeyRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
QGroupBox *section(const QString &title, QWidget *parent) {
    auto *box = new QGroupBox(title, parent);
    auto *form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    return box;
}

QFormLayout *formOf(QGroupBox *box) {
    return static_cast<QFormLayout *>(box->layout());
}

// The small secondary-coloured text under a control.
QLabel *caption(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

QPointer<SettingsView> &sharedWindow() {
    static QPointer<SettingsView> window;
    return window;
}

void deleteSharedWindow() {
    delete sharedWindow().data();
}
} // namespace

template <typename E, typename Setter, typename Signal>
QComboBox *SettingsView::picker(E current, Setter set, Signal changed) {
    auto *box = new QComboBox(this);
    for (const auto &c : SettingEnum<E>::cases)
        box->addItem(QString::fromUtf8(c.label), int(c.value));
    const auto show = [box](E value) {
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(box->findData(int(value)));
    };
    show(current);
    connect(box, &QComboBox::currentIndexChanged, this,
            [box, set](int index) { set(E(box->itemData(index).toInt())); });
    connect(&m_settings, changed, box, show);
    return box;
}

SettingsView::SettingsView(AppSettings &settings, HotKeyManager &hotKeys, QWidget *parent)
    : QWidget(parent), m_settings(settings) {
    setFixedSize(contentSize);
    auto *layout = new QVBoxLayout(this);

    QGroupBox *stowbay = section(QStringLiteral("Stowbay"), this);
    AppSettings &s = m_settings;
    m_edge = picker(
        s.edge(), [&s](StowbayEdge v) { s.setEdge(v); }, &AppSettings::edgeChanged);
    m_openMode = picker(
        s.openMode(), [&s](OpenMode v) { s.setOpenMode(v); }, &AppSettings::openModeChanged);
    m_sensitivity = picker(
        s.sensitivity(), [&s](ShakeSensitivity v) { s.setSensitivity(v); }, &AppSettings::sensitivityChanged);
    m_afterDrag = picker(
        s.afterDrag(), [&s](AfterDrag v) { s.setAfterDrag(v); }, &AppSettings::afterDragChanged);
    // In a Wayland session other programs' drags are seen only at the screen edge, whichever
    // mode is stored (the stored value stays as it is, for an X11 session).
    if (DesktopSession::current().isWayland()) {
        const QSignalBlocker blocker(m_openMode);
        m_openMode->clear();
        m_openMode->addItem(QStringLiteral("Drag files to the screen edge"));
        m_openMode->setEnabled(false);
    }
    formOf(stowbay)->addRow(QStringLiteral("Edge"), m_edge);
    formOf(stowbay)->addRow(QStringLiteral("Open the stowbay when"), m_openMode);
    formOf(stowbay)->addRow(QStringLiteral("Shake sensitivity"), m_sensitivity);
    formOf(stowbay)->addRow(QStringLiteral("After dragging an item out"), m_afterDrag);
    layout->addWidget(stowbay);

    QGroupBox *storage = section(QStringLiteral("Storage"), this);
    m_autoClear = picker(
        s.autoClear(), [&s](AutoClear v) { s.setAutoClear(v); }, &AppSettings::autoClearChanged);
    formOf(storage)->addRow(QStringLiteral("Auto-clear after"), m_autoClear);
    formOf(storage)->addRow(
        caption(QStringLiteral("Pinned items are never cleared automatically."), storage));
    m_keepOnQuit = new QCheckBox(QStringLiteral("Keep items when quitting"), storage);
    connect(m_keepOnQuit, &QCheckBox::toggled, &m_settings, &AppSettings::setKeepOnQuit);
    formOf(storage)->addRow(m_keepOnQuit);
    layout->addWidget(storage);

    QGroupBox *shortcut = section(QStringLiteral("Shortcut"), this);
    m_recorder = new HotkeyRecorder(m_settings, hotKeys, shortcut);
    formOf(shortcut)->addRow(m_recorder);
    layout->addWidget(shortcut);

    QGroupBox *general = section(QStringLiteral("General"), this);
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at Login"), general);
    m_launchAtLogin->setChecked(LaunchAtLogin::isEnabled());
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &SettingsView::setLaunchAtLogin);
    formOf(general)->addRow(m_launchAtLogin);
    m_loginError = caption(QString(), general);
    QPalette red = m_loginError->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    m_loginError->setPalette(red);
    m_loginError->hide();
    formOf(general)->addRow(m_loginError);
    layout->addWidget(general);
    layout->addStretch(1);

    connect(&m_settings, &AppSettings::changed, this, &SettingsView::updateFromSettings);
    updateFromSettings();
}

void SettingsView::updateFromSettings() {
    // The sensitivity matters only to the shake; it stays visible and keeps its value.
    m_sensitivity->setEnabled(m_settings.openMode() == OpenMode::shake);
    const QSignalBlocker blocker(m_keepOnQuit);
    m_keepOnQuit->setChecked(m_settings.keepOnQuit());
}

void SettingsView::setLaunchAtLogin(bool enabled) {
    const std::optional<QString> failure = LaunchAtLogin::set(enabled);
    m_loginError->setText(failure.value_or(QString()));
    m_loginError->setVisible(failure.has_value());
    // After a failure, or a success the desktop does not honour, the toggle shows the real state.
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(LaunchAtLogin::isEnabled());
}

void SettingsView::showEvent(QShowEvent *event) {
    // The tray menu may have changed it while the window was closed. The error stays until the
    // next use of the toggle.
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(LaunchAtLogin::isEnabled());
    QWidget::showEvent(event);
}

SettingsView *SettingsView::showWindow(AppSettings &settings, HotKeyManager &hotKeys) {
    QPointer<SettingsView> &window = sharedWindow();
    if (!window) {
        window = new SettingsView(settings, hotKeys);
        window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint);
        window->setWindowTitle(QStringLiteral("Stowbay Settings"));
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), contentSize);
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        qAddPostRoutine(deleteSharedWindow);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
