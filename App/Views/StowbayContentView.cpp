#include "Views/StowbayContentView.h"

#include "Interaction/RowInteractionView.h"
#include "Interaction/StowbayDragSource.h"
#include "Interaction/StowbayDragState.h"
#include "Interaction/StowbayInteraction.h"
#include "Items/StowbayStore.h"
#include "Views/FileDropLoader.h"
#include "Views/ItemRowView.h"
#include "Views/PanelModel.h"
#include "Views/RowAccessibility.h"
#include "Views/Symbols.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantAnimation>

namespace {
QFont pixelFont(const QFont &base, int size, QFont::Weight weight = QFont::Normal) {
    QFont font = base;
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

QColor mix(const QColor &a, const QColor &b, double t) {
    return QColor::fromRgbF(
        float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
        float(a.blueF() + (b.blueF() - a.blueF()) * t), float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

// Where the keyboard is: a ring in the accent colour.
void paintFocusRing(QPainter &p, const QRectF &r, double radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(PanelColors::accent(), 2));
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
    p.restore();
}

bool isActivation(const QKeyEvent *event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
}

// The dashed drop zone. `lit` runs from 0 (resting) to 1 (files hover over the panel).
class DropZoneView : public QWidget {
public:
    static constexpr const char *name = "Drop files here; click to add files";
    explicit DropZoneView(QWidget *parent) : QWidget(parent) {
        RowAccessibility::exposeAsButton(this); // before anything asks a screen reader's view of it
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QString::fromUtf8(name));
        setToolTip(QStringLiteral("Click to add files"));
        m_light.setDuration(120);
        m_light.setEasingCurve(QEasingCurve::OutCubic);
        m_light.setStartValue(0.0);
        m_light.setEndValue(1.0);
        connect(&m_light, &QVariantAnimation::valueChanged, this, [this] { update(); });
    }
    void setTargeted(bool targeted) {
        m_light.setDirection(targeted ? QAbstractAnimation::Forward : QAbstractAnimation::Backward);
        if (m_light.state() != QAbstractAnimation::Running) m_light.start();
    }
    void setLarge(bool large) {
        m_large = large;
        // Fills the panel when there is no list, else keeps to 64 points above it.
        setMinimumHeight(large ? 0 : 64);
        setMaximumHeight(large ? QWIDGETSIZE_MAX : 64);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double lit = m_light.currentValue().toDouble();
        const QRectF r = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
        p.setBrush(mix(PanelColors::white(0.06), PanelColors::accent(0.35), lit));
        QPen dash(mix(PanelColors::white(0.3), PanelColors::accent(), lit), 1.5);
        dash.setDashPattern({6 / 1.5, 4 / 1.5});
        p.setPen(dash);
        p.drawRoundedRect(r, 10, 10);

        const int symbol = m_large ? 28 : 18;
        const QFont font = pixelFont(this->font(), m_large ? 13 : 12);
        const QFontMetrics metrics(font);
        const QString text = QStringLiteral("Drop files here");
        const double top = (height() - (symbol + 6 + metrics.height())) / 2.0;
        Symbols::arrowIntoTray(p, QRectF((width() - symbol) / 2.0, top, symbol, symbol),
                               PanelColors::secondary());
        p.setFont(font);
        p.setPen(PanelColors::secondary());
        p.drawText(QRectF(0, top + symbol + 6, width(), metrics.height()), Qt::AlignCenter, text);
        if (hasFocus()) paintFocusRing(p, rect(), 10);
    }
    void mouseReleaseEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
            onClick();
    }

public:
    std::function<void()> onClick;

private:
    QVariantAnimation m_light;
    bool m_large = true;
};

// "Clear": a plain word in the accent colour, grey while there is nothing to clear.
class TextButton : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;
    QSize sizeHint() const override { return fontMetrics().size(Qt::TextSingleLine, text()) + QSize(8, 4); }

    // A header button that takes the keyboard, and its name for a screen reader.
    static TextButton *make(const QString &text, const QString &accessibleName) {
        auto *button = new TextButton;
        button->setText(text);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setCursor(Qt::PointingHandCursor);
        button->setAccessibleName(accessibleName);
        return button;
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setPen(isEnabled() ? QColor(80, 160, 255) : PanelColors::white(0.4));
        p.drawText(rect(), Qt::AlignCenter, text());
        if (hasFocus()) paintFocusRing(p, rect(), 4);
    }
};

// "Drag all": a drag that starts here carries every item, whatever is selected. With the keyboard
// (Enter) it copies them all to the clipboard instead.
class DragAllView : public QWidget {
public:
    DragAllView(StowbayInteraction &interaction, QWidget *parent) : QWidget(parent) {
        RowAccessibility::exposeAsButton(this);
        setFixedHeight(30);
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(QStringLiteral("Drag all"));
        setAccessibleDescription(QStringLiteral("Drag every item out at once; Enter copies them all"));
        setToolTip(QStringLiteral("Drag every item out at once"));
        RowInteractionView::cover(this, std::nullopt, &interaction);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(PanelColors::white(0.12));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
        const QFont font = pixelFont(this->font(), 12);
        const QString text = QStringLiteral("Drag all");
        const int textWidth = QFontMetrics(font).horizontalAdvance(text);
        const int symbol = 14;
        const double left = (width() - (symbol + 6 + textWidth)) / 2.0;
        Symbols::arrowOutOfSquare(p, QRectF(left, (height() - symbol) / 2.0, symbol, symbol),
                                  PanelColors::primary());
        p.setFont(font);
        p.setPen(PanelColors::primary());
        p.drawText(QRectF(left + symbol + 6, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   text);
        if (hasFocus()) paintFocusRing(p, rect(), 8);
    }
};
} // namespace

StowbayContentView::StowbayContentView(PanelModel &model, StowbayStore &store,
                                       StowbayInteraction &interaction, QWidget *parent)
    : QWidget(parent), m_model(model), m_store(store), m_interaction(interaction) {
    setAcceptDrops(true);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 10, 0, 10);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(14, 0, 14, 8);
    m_title = new QLabel;
    // Room for two lines of a notice, so that one coming and going moves nothing below it.
    m_title->setFixedHeight(2 * QFontMetrics(pixelFont(font(), 11)).lineSpacing() + 2);
    QPalette title = m_title->palette();
    title.setColor(QPalette::WindowText, PanelColors::primary());
    m_title->setPalette(title);
    m_clear = TextButton::make(QStringLiteral("Clear"), QStringLiteral("Clear"));
    m_clear->setAccessibleDescription(QStringLiteral("Remove every item that is not pinned"));
    connect(m_clear, &QAbstractButton::clicked, this, [this] {
        // A click gives the button the focus before the window manager has made the panel the
        // active window (under load, after the click's release): the window's focus, not the
        // keyboard's, says where the next press goes.
        const bool hadFocus = window()->focusWidget() == m_clear;
        m_clearing = true;
        m_store.clear();
        m_clearing = false;
        // The focus moves on from the disabled button to where the next press takes it back.
        if (hadFocus && offersUndo()) m_undo->setFocus(Qt::OtherFocusReason);
    });
    m_undo = TextButton::make(QStringLiteral("Undo"), QStringLiteral("Undo"));
    m_undo->setToolTip(QStringLiteral("Put back what was removed (Ctrl+Z)"));
    m_undo->hide();
    connect(m_undo, &QAbstractButton::clicked, this, [this] {
        m_undo->hide();
        if (m_model.onUndo) m_model.onUndo();
        focusList();
    });
    connect(&StowbayDragState::center(), &StowbayDragState::dropNotDelivered, this,
            [this] { showNotice(QString::fromUtf8(notDeliveredText)); });
    // "⋯": the tray's menu, for desktops that show no tray icons.
    m_menu = TextButton::make(QStringLiteral("⋯"), QStringLiteral("Menu"));
    m_menu->setToolTip(QStringLiteral("Stowbay's menu"));
    m_menu->hide();
    connect(m_menu, &QAbstractButton::clicked, this, [this] {
        if (m_model.menu) m_model.menu->popup(m_menu->mapToGlobal(QPoint(0, m_menu->height())));
    });
    // Folds the panel into its tab; the chevron points to the edge it goes to.
    m_fold = TextButton::make(QString(), QStringLiteral("Fold"));
    m_fold->setToolTip(QStringLiteral("Fold into the tab (Escape)"));
    m_fold->setAccessibleDescription(QStringLiteral("Fold the panel into its tab at the screen edge"));
    connect(m_fold, &QAbstractButton::clicked, this, [this] {
        if (m_model.onFold) m_model.onFold();
    });
    const auto pointFold = [this](StowbayEdge edge) {
        m_fold->setText(edge == StowbayEdge::right  ? QStringLiteral("›")
                        : edge == StowbayEdge::left ? QStringLiteral("‹")
                                                    : QStringLiteral("˅"));
    };
    pointFold(m_model.edge());
    connect(&m_model, &PanelModel::edgeChanged, this, pointFold);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_undo);
    header->addWidget(m_clear);
    header->addWidget(m_menu);
    header->addWidget(m_fold);
    column->addLayout(header);

    auto *zone = new QHBoxLayout;
    zone->setContentsMargins(12, 0, 12, 8);
    auto *dropZone = new DropZoneView(this);
    dropZone->onClick = [this] {
        if (m_model.onAddFiles) m_model.onAddFiles();
    };
    m_dropZone = dropZone;
    zone->addWidget(m_dropZone);
    column->addLayout(zone, 1);

    m_list = new QScrollArea;
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setWidgetResizable(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setAccessibleName(QStringLiteral("Items"));
    m_list->installEventFilter(this);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
        "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 90); border-radius: 2px; min-height: "
        "24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line, QScrollBar::add-page, QScrollBar::sub-page "
        "{ background: none; height: 0; }"));
    auto *rows = new QWidget;
    RowAccessibility::exposeAsList(rows);
    m_rowsLayout = new QVBoxLayout(rows);
    m_rowsLayout->setContentsMargins(8, 0, 8, 0);
    m_rowsLayout->setSpacing(rowSpacing);
    m_rowsLayout->addStretch(1);
    m_list->setWidget(rows);
    rows->setAutoFillBackground(false); // the scroll area fills it otherwise: the panel shows through
    column->addWidget(m_list, 100);

    auto *dragAll = new QHBoxLayout;
    dragAll->setContentsMargins(12, 6, 12, 0);
    m_dragAll = new DragAllView(interaction, this);
    dragAll->addWidget(m_dragAll);
    column->addLayout(dragAll);

    connect(&m_store, &StowbayStore::itemsChanged, this, &StowbayContentView::itemsChanged);
    connect(&m_store, &StowbayStore::infosChanged, this, &StowbayContentView::infosChanged);
    connect(&m_interaction, &StowbayInteraction::selectionChanged, this,
            &StowbayContentView::selectionChanged);
    // A file dropped again that is held already: its row flashes where the user can see it.
    connect(&m_store, &StowbayStore::addedAgain, this, [this](const QList<QUuid> &ids) {
        for (const QUuid &id : ids)
            if (ItemRowView *row = m_rows.value(id)) {
                m_list->ensureWidgetVisible(row, 0, 0);
                row->flash();
            }
    });
    // Longer than the panel's growth, short enough not to fight the user's own scrolling.
    m_revealTimer.setSingleShot(true);
    m_revealTimer.setInterval(600);
    connect(m_list->verticalScrollBar(), &QScrollBar::rangeChanged, this, &StowbayContentView::revealAdded);
    m_noticeTimer.setSingleShot(true);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_notice.clear();
        if (m_undo->hasFocus()) focusList();
        m_undo->hide();
        updateTitle();
    });
    m_shownCount = int(m_store.items().size());
    itemsChanged();
}

QString StowbayContentView::title(int count) {
    if (count == 0) return QStringLiteral("Stowbay");
    return QString::number(count) + QStringLiteral(" item") + (count == 1 ? QString() : QStringLiteral("s"));
}

QString StowbayContentView::filesText(int count) {
    return QLocale().toString(count) + (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

QString StowbayContentView::title(int count, int selected) {
    if (selected == 0) return title(count);
    return QStringLiteral("%1 of %2 selected").arg(selected).arg(count);
}

void StowbayContentView::showNotice(const QString &text, int ms) {
    m_notice = text;
    m_undo->hide();
    m_noticeTimer.start(ms);
    updateTitle();
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // A screen reader says it at once, wherever its attention is; before, it heard the header's
    // name change only when it was reading the header.
    QAccessibleAnnouncementEvent announcement(m_title, text);
    QAccessible::updateAccessibility(&announcement);
#endif
}

void StowbayContentView::showUndo(const QString &text, bool holdOpen) {
    showNotice(text, undoMs);
    m_undo->show();
    m_holdOpen = holdOpen;
}

bool StowbayContentView::holdsPanelOpen() const {
    return m_holdOpen && offersUndo();
}

bool StowbayContentView::offersUndo() const {
    return m_undo->isVisibleTo(this);
}

void StowbayContentView::focusList() {
    if (m_list->isVisible())
        m_list->setFocus(Qt::OtherFocusReason);
    else
        m_dropZone->setFocus(Qt::OtherFocusReason);
}

bool StowbayContentView::activateFocusedControl(QKeyEvent *event) {
    if (!isActivation(event) || (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)))
        return false;
    QWidget *focus = focusWidget();
    if (focus == m_clear || focus == m_undo || focus == m_menu || focus == m_fold) {
        static_cast<QAbstractButton *>(focus)->click();
        return true;
    }
    if (focus == m_dropZone) {
        if (m_model.onAddFiles) m_model.onAddFiles();
        return true;
    }
    if (focus == m_dragAll) {
        copyFiles(m_interaction.dragIDs(std::nullopt));
        return true;
    }
    return false;
}

bool StowbayContentView::copyFiles(const QList<QUuid> &ids) {
    if (ids.isEmpty()) return false;
    const int copied = int(m_interaction.urls(ids).size());
    const int missing = int(ids.size()) - copied;
    if (!m_interaction.copyFiles(ids))
        showNotice(QStringLiteral("Nothing copied: %1 missing").arg(missing));
    else
        showNotice(filesText(copied) + QStringLiteral(" copied") +
                   (missing ? QStringLiteral("; %1 missing").arg(missing) : QString()));
    return true;
}

void StowbayContentView::showCurrentRow() {
    if (const std::optional<QUuid> current = m_interaction.current())
        if (ItemRowView *row = m_rows.value(*current)) m_list->ensureWidgetVisible(row, 0, 0);
}

bool StowbayContentView::openRowMenu() {
    std::optional<QUuid> id = m_interaction.current();
    if (!id && !m_interaction.orderedSelection().isEmpty())
        id = m_interaction.orderedSelection().constFirst();
    ItemRowView *row = id ? m_rows.value(*id) : nullptr;
    auto *cover = row ? row->findChild<RowInteractionView *>() : nullptr;
    if (!cover) return false;
    m_list->ensureWidgetVisible(row, 0, 0);
    std::unique_ptr<QMenu> menu = cover->menu();
    if (!menu) return false;
    QMenu *shown = menu.release();
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->popup(row->mapToGlobal(QPoint(24, row->height() / 2)));
    return true;
}

// The keyboard's row wears a ring while the list has the keyboard.
void StowbayContentView::updateFocusRing() {
    const std::optional<QUuid> current = m_list->hasFocus() ? m_interaction.current() : std::nullopt;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const bool ring = current == it.key();
        if ((*it)->hasFocusRing() == ring) continue;
        (*it)->setFocusRing(ring);
        if (!ring) continue;
        for (ItemRowView *other : std::as_const(m_rows))
            if (other != *it) other->dropHover();
        QAccessibleEvent event(*it, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

bool StowbayContentView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_list && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        updateFocusRing();
    return QWidget::eventFilter(watched, event);
}

// The header says how many items there are, how many of them are selected, or for a few seconds
// what just happened.
void StowbayContentView::updateTitle() {
    const bool notice = !m_notice.isEmpty();
    m_title->setFont(notice ? pixelFont(font(), 11) : pixelFont(font(), 13, QFont::Bold));
    m_title->setWordWrap(notice);
    int selected = 0;
    for (const StowbayItem &item : m_store.items())
        selected += m_interaction.selection().contains(item.id);
    m_title->setText(notice ? m_notice : title(int(m_store.items().size()), selected));
}

void StowbayContentView::showEvent(QShowEvent *event) {
    // A tray may have come or gone since the panel was last open.
    m_menu->setVisible(m_model.menu && !QSystemTrayIcon::isSystemTrayAvailable());
    QWidget::showEvent(event);
}

void StowbayContentView::setTargeted(bool targeted) {
    if (targeted == m_targeted) return;
    m_targeted = targeted;
    static_cast<DropZoneView *>(m_dropZone)->setTargeted(targeted);
}

void StowbayContentView::itemsChanged() {
    const QList<StowbayItem> &items = m_store.items();
    const bool empty = items.isEmpty();
    // Said once in the header, where a screen reader reads it too; a removal can be undone.
    const int added = int(items.size()) - std::exchange(m_shownCount, int(items.size()));
    if (added > 0)
        showNotice(filesText(added) + QStringLiteral(" added"));
    else if (added < 0)
        showUndo(m_clearing ? QStringLiteral("Cleared") : QStringLiteral("%1 removed").arg(-added),
                 m_clearing);
    updateTitle();
    m_clear->setEnabled(
        std::any_of(items.begin(), items.end(), [](const StowbayItem &i) { return !i.pinned; }));
    static_cast<DropZoneView *>(m_dropZone)->setLarge(empty);
    if (empty && (m_list->hasFocus() || m_dragAll->hasFocus())) m_dropZone->setFocus(Qt::OtherFocusReason);
    m_list->setVisible(!empty);
    m_dragAll->setVisible(!empty);
    static_cast<QBoxLayout *>(layout())->setStretch(1, empty ? 1 : 0);

    // Rows of the same name say which folder each is in.
    QHash<QString, int> names;
    for (const StowbayItem &item : items)
        ++names[item.name];
    QSet<QUuid> present;
    QPointer<ItemRowView> firstNew;
    for (int i = 0; i < items.size(); ++i) {
        const StowbayItem &item = items[i];
        present.insert(item.id);
        ItemRowView *row = m_rows.value(item.id);
        if (!row) {
            row = new ItemRowView(item, &m_interaction);
            m_rows.insert(item.id, row);
            if (!firstNew) firstNew = row;
        }
        row->setItem(item);
        row->setInfo(m_store.infos().contains(item.id) ? std::optional(m_store.infos().value(item.id))
                                                       : std::nullopt);
        row->setSelected(m_interaction.selection().contains(item.id));
        row->setShowsFolder(names.value(item.name) > 1);
        if (m_rowsLayout->indexOf(row) != i) {
            m_rowsLayout->removeWidget(row);
            m_rowsLayout->insertWidget(i, row);
        }
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        m_rowsLayout->removeWidget(*it);
        (*it)->hide();
        (*it)->deleteLater(); // a drag from it may still be running
        it = m_rows.erase(it);
    }
    updateFocusRing();
    // What was just added is shown once the list has laid the new rows out, and again each time
    // the list's range changes while the panel grows to its new height.
    if (added > 0 && firstNew) {
        m_revealed = firstNew;
        m_revealTimer.start();
        QMetaObject::invokeMethod(this, &StowbayContentView::revealAdded, Qt::QueuedConnection);
    }
}

void StowbayContentView::revealAdded() {
    if (m_revealed && m_revealTimer.isActive()) m_list->ensureWidgetVisible(m_revealed, 0, 0);
}

void StowbayContentView::infosChanged() {
    const QHash<QUuid, ItemInfo> &infos = m_store.infos();
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
        (*it)->setInfo(infos.contains(it.key()) ? std::optional(infos.value(it.key())) : std::nullopt);
}

void StowbayContentView::selectionChanged() {
    updateTitle();
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const bool selected = m_interaction.selection().contains(it.key());
        if ((*it)->isSelected() == selected) continue;
        (*it)->setSelected(selected);
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(*it, changed);
        QAccessible::updateAccessibility(&event);
    }
    updateFocusRing();
}

// Files dragged anywhere over the content light the zone, not only over the zone itself.
void StowbayContentView::dragEnterEvent(QDragEnterEvent *event) {
    if (StowbayDragSource::isInternal(event->mimeData()) || !event->mimeData()->hasUrls())
        return event->ignore();
    event->acceptProposedAction();
    setTargeted(true);
}

void StowbayContentView::dragLeaveEvent(QDragLeaveEvent *) {
    setTargeted(false);
}

void StowbayContentView::dropEvent(QDropEvent *event) {
    setTargeted(false);
    QPointer<PanelModel> model(&m_model);
    FileDropLoader::load(event->mimeData(), [model](const QList<QUrl> &urls) {
        if (model && model->onDropURLs) model->onDropURLs(urls);
    });
    // Stowbay keeps a reference: the source must never take the drop for a move and delete its file.
    event->setDropAction(event->possibleActions() & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
}
