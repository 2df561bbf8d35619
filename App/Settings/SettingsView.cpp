#include "Settings/SettingsView.h"

#include "Input/KeyCodes.h"
#include "Session/DesktopSession.h"
#include "Settings/HotkeyRecorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {
QGroupBox *section(const QString &title, QWidget *parent) {
    auto *box = new QGroupBox(title, parent);
    auto *form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return box;
}

QFormLayout *formOf(QGroupBox *box) {
    return static_cast<QFormLayout *>(box->layout());
}

QWidget *formLabel(QWidget *field) {
    return static_cast<QFormLayout *>(field->parentWidget()->layout())->labelForField(field);
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

// The command that shows or hides the running Stowbay: the program by its name where the desktop
// finds it by that name.
QString toggleCommand() {
    const QString program = QCoreApplication::applicationFilePath();
    const QString name = QFileInfo(program).fileName();
    if (QStandardPaths::findExecutable(name) == program) return name + QStringLiteral(" toggle");
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+-]+$"));
    if (plain.match(program).hasMatch()) return program + QStringLiteral(" toggle");
    QString quoted = program;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QStringLiteral("' toggle");
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

SettingsView::SettingsView(AppSettings &settings, GlobalShortcut &hotKeys, DesktopKeybinding &keybinding,
                           QWidget *parent)
    : QWidget(parent), m_settings(settings), m_hotKeys(hotKeys), m_keybinding(keybinding) {
    // The sections stand in a page that scrolls when the screen is shorter than the page.
    setFixedWidth(contentSize.width());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    m_page = new QWidget;
    auto *layout = new QVBoxLayout(m_page);

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
    formOf(stowbay)->addRow(QStringLiteral("Open Stowbay when"), m_openMode);
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
    formOf(storage)->addRow(
        caption(QStringLiteral("When off, quitting forgets every item, pinned ones too."), storage));
    layout->addWidget(storage);

    QGroupBox *shortcut = section(QStringLiteral("Shortcut"), this);
    m_recorder = new HotkeyRecorder(m_settings, hotKeys, shortcut);
    formOf(shortcut)->addRow(m_recorder);
    m_shortcutNote = caption(QString(), shortcut);
    m_shortcutNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    formOf(shortcut)->addRow(m_shortcutNote);
    m_keybindingButton = new QPushButton(QStringLiteral("Add to GNOME's keyboard shortcuts"), shortcut);
    connect(m_keybindingButton, &QPushButton::clicked, this, &SettingsView::addKeybinding);
    formOf(shortcut)->addRow(m_keybindingButton);
    connect(&hotKeys, &GlobalShortcut::desktopTriggerChanged, this, &SettingsView::updateShortcutNote);
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
    scroll->setWidget(m_page);

    // The pickers of every section line up in one column of one width.
    int labelWidth = 0;
    for (QComboBox *box : {m_edge, m_openMode, m_sensitivity, m_afterDrag, m_autoClear})
        labelWidth = std::max(labelWidth, formLabel(box)->sizeHint().width());
    for (QComboBox *box : {m_edge, m_openMode, m_sensitivity, m_afterDrag, m_autoClear})
        formLabel(box)->setMinimumWidth(labelWidth);

    connect(&m_settings, &AppSettings::changed, this, &SettingsView::updateFromSettings);
    updateFromSettings();
}

void SettingsView::updateFromSettings() {
    // The sensitivity matters only to the shake; it stays visible and keeps its value.
    m_sensitivity->setEnabled(m_settings.openMode() == OpenMode::shake);
    const QSignalBlocker blocker(m_keepOnQuit);
    m_keepOnQuit->setChecked(m_settings.keepOnQuit());
    updateShortcutNote();
}

void SettingsView::updateShortcutNote() {
    const QString trigger = m_hotKeys.desktopTrigger();
    if (!trigger.isEmpty()) {
        m_shortcutNote->setText(
            QStringLiteral("Your desktop gives Stowbay the keys %1. You can change them in the desktop's "
                           "keyboard settings.")
                .arg(trigger));
    } else if (!m_hotKeys.reachesEveryWindow() && m_keybinding.isAvailable()) {
        // The desktop runs `toggle` for keys of its own settings: once asked to, with the keys
        // recorded here, which it follows when they are recorded anew.
        const bool added = m_keybinding.hasEntry();
        if (added)
            m_keybinding.bind(m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers(), toggleCommand());
        m_shortcutNote->setText(
            added
                ? QStringLiteral("In GNOME's keyboard shortcuts: %1").arg(m_settings.hotkeyDisplay())
                : QStringLiteral("This desktop passes the shortcut to Stowbay only from some windows. To use "
                                 "it everywhere, add it to the desktop's keyboard shortcuts."));
        m_keybindingButton->setVisible(!added);
    } else if (!m_hotKeys.reachesEveryWindow()) {
        // The keys as sway's configuration names them.
        QStringList keys;
        const quint32 modifiers = m_settings.hotkeyModifiers();
        if (modifiers & AppSettings::controlKey) keys << QStringLiteral("Ctrl");
        if (modifiers & AppSettings::optionKey) keys << QStringLiteral("Alt");
        if (modifiers & AppSettings::shiftKey) keys << QStringLiteral("Shift");
        if (modifiers & AppSettings::commandKey) keys << QStringLiteral("Super");
        keys << KeyCodes::keysymName(m_settings.hotkeyKeyCode());
        const QString command = toggleCommand();
        m_shortcutNote->setText(
            QStringLiteral("This desktop passes the shortcut to Stowbay only from some windows. To use it "
                           "everywhere, bind it to \"%1\" in the desktop's keyboard settings; in sway's "
                           "configuration:\nbindsym %2 exec %1")
                .arg(command, keys.join(QLatin1Char('+'))));
    }
    m_shortcutNote->setVisible(!trigger.isEmpty() || !m_hotKeys.reachesEveryWindow());
    if (!trigger.isEmpty() || m_hotKeys.reachesEveryWindow() || !m_keybinding.isAvailable())
        m_keybindingButton->hide();
}

void SettingsView::addKeybinding() {
    if (m_keybinding.bind(m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers(), toggleCommand()))
        updateShortcutNote();
    else
        QApplication::beep();
}

void SettingsView::setLaunchAtLogin(bool enabled) {
    const std::optional<QString> failure = LaunchAtLogin::set(enabled);
    m_loginError->setText(failure.value_or(QString()));
    m_loginError->setVisible(failure.has_value());
    // After a failure, or a success the desktop does not honour, the toggle shows the real state.
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(LaunchAtLogin::isEnabled());
}

QSize SettingsView::sizeHint() const {
    return {contentSize.width(), m_page->sizeHint().height()};
}

void SettingsView::keyPressEvent(QKeyEvent *event) {
    // Escape and the desktop's Close keys (Ctrl+W) close it, as they close any dialog.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Close))
        close();
    else
        QWidget::keyPressEvent(event);
}

void SettingsView::showEvent(QShowEvent *event) {
    // The tray menu may have changed it while the window was closed. The error stays until the
    // next use of the toggle.
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(LaunchAtLogin::isEnabled());
    QWidget::showEvent(event);
}

SettingsView *SettingsView::showWindow(AppSettings &settings, GlobalShortcut &hotKeys) {
    QPointer<SettingsView> &window = sharedWindow();
    if (!window) {
        window = new SettingsView(settings, hotKeys, DesktopKeybinding::system());
        window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint);
        window->setWindowTitle(QStringLiteral("Stowbay Settings"));
        // As tall as its page, but never taller than the screen's free area with room for the
        // title bar, and centred in it.
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect free = screen->availableGeometry();
            const int titleBar = 40;
            const int height = std::min(window->sizeHint().height(), free.height() - titleBar);
            window->resize(contentSize.width(), height);
            window->move(free.center().x() - contentSize.width() / 2,
                         free.top() + std::max(0, (free.height() - titleBar - height) / 2));
        }
        qAddPostRoutine(deleteSharedWindow);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
