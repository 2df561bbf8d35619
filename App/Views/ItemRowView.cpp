#include "Views/ItemRowView.h"

#include "Interaction/RowInteractionView.h"
#include "Interaction/StowbayInteraction.h"
#include "Items/IconCache.h"
#include "Views/Symbols.h"

#include <QEvent>
#include <QFileInfo>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

ItemRowView::ItemRowView(const StowbayItem &item, StowbayInteraction *interaction, QWidget *parent)
    : QWidget(parent), m_item(item) {
    setFixedHeight(rowHeight);
    // The pointer's movement over the row shows its hover again after the keyboard moved on.
    QWidget *cover = RowInteractionView::cover(this, item.id, interaction);
    cover->setMouseTracking(true);
    cover->installEventFilter(this);
    updateToolTip();
    // The file's own icon and its thumbnail come later than the row; only this row is drawn again,
    // in place.
    connect(&IconCache::shared(), &IconCache::pictureReady, this, [this](const QString &path) {
        if (path == this->path()) update();
    });
}

// Every row of a panel that shows asks for its picture at once, not only those scrolled into view.
void ItemRowView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    IconCache::thumbnail(path(), devicePixelRatioF()); // made for this screen's pixel ratio
    IconCache::icon(path(), m_info ? m_info->exists : true);
}

void ItemRowView::setItem(const StowbayItem &item) {
    if (item == m_item) return;
    m_item = item;
    updateToolTip();
    update();
}

void ItemRowView::setInfo(const std::optional<ItemInfo> &info) {
    if (info == m_info) return;
    // A file that changed may need a new thumbnail.
    if (info && info->exists && m_info && m_info->exists && info->url == m_info->url)
        IconCache::shared().recheck(info->url.toLocalFile());
    m_info = info;
    updateToolTip();
    update();
}

void ItemRowView::setShowsFolder(bool showsFolder) {
    if (showsFolder == m_showsFolder) return;
    m_showsFolder = showsFolder;
    update();
}

// A row not refreshed yet stands for its stored path.
QString ItemRowView::path() const {
    return m_info ? m_info->url.toLocalFile() : m_item.path;
}

void ItemRowView::updateToolTip() {
    setToolTip(path() + (m_item.pinned ? QStringLiteral("\nPinned") : QString()));
}

void ItemRowView::flash() {
    if (!m_flash) {
        m_flash = new QVariantAnimation(this);
        m_flash->setDuration(700);
        m_flash->setKeyValueAt(0, 0.0);
        m_flash->setKeyValueAt(0.3, 1.0);
        m_flash->setKeyValueAt(1, 0.0);
        connect(m_flash, &QVariantAnimation::valueChanged, this, [this] { update(); });
    }
    m_flash->stop();
    m_flash->start();
}

void ItemRowView::enterEvent(QEnterEvent *) {
    m_hovered = true;
    update();
}

void ItemRowView::leaveEvent(QEvent *) {
    m_hovered = false;
    update();
}

void ItemRowView::dropHover() {
    if (!m_hovered) return;
    m_hovered = false;
    update();
}

bool ItemRowView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseMove && !m_hovered) {
        m_hovered = true;
        update();
    }
    return QWidget::eventFilter(watched, event);
}

QString ItemRowView::subtitle() const {
    const QString facts = subtitle(m_info);
    if (!m_showsFolder) return facts;
    const QString folder = QFileInfo(QFileInfo(path()).path()).fileName();
    return facts.isEmpty() ? folder : folder + QStringLiteral(" · ") + facts;
}

void ItemRowView::setSelected(bool selected) {
    if (selected == m_selected) return;
    m_selected = selected;
    update();
}

void ItemRowView::setFocusRing(bool shown) {
    if (shown == m_focusRing) return;
    m_focusRing = shown;
    update();
}

QString ItemRowView::subtitle(const std::optional<ItemInfo> &info) {
    if (!info) return {};
    if (!info->exists) return QStringLiteral("Missing");
    if (info->isDirectory) return QStringLiteral("Folder");
    if (info->size) return QLocale().formattedDataSize(*info->size, 1, QLocale::DataSizeSIFormat);
    return {};
}

void ItemRowView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (m_selected || m_hovered) {
        p.setBrush(m_selected ? PanelColors::accent(0.4) : PanelColors::white(0.08));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    if (m_flash && m_flash->state() == QAbstractAnimation::Running) {
        p.setBrush(PanelColors::accent(0.55 * m_flash->currentValue().toDouble()));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    // A missing file's icon and name fade; "Missing" itself stays legible.
    p.setOpacity(isMissing() ? 0.45 : 1.0);

    // A row not refreshed yet shows its stored path's icon, taken to exist.
    const int side = IconCache::iconSize;
    const QRect iconRect(8, (height() - side) / 2, side, side);
    const bool exists = m_info ? m_info->exists : true;
    const QImage thumbnail = exists ? IconCache::thumbnail(path(), devicePixelRatioF()) : QImage();
    if (thumbnail.isNull()) {
        IconCache::icon(path(), exists).paint(&p, iconRect);
    } else {
        QRectF at(QPointF(), thumbnail.deviceIndependentSize());
        at.moveCenter(QRectF(iconRect).center());
        p.drawImage(at, thumbnail);
    }

    const int textLeft = iconRect.right() + 1 + 8;
    const int textRight = width() - 8 - (m_item.pinned ? 10 + 8 : 0);
    QFont nameFont = font();
    nameFont.setPixelSize(12);
    nameFont.setWeight(QFont::Medium);
    QFont subtitleFont = font();
    subtitleFont.setPixelSize(11);
    const QFontMetrics nameMetrics(nameFont), subtitleMetrics(subtitleFont);
    const QString sub = subtitle();
    const int textHeight = nameMetrics.height() + (sub.isEmpty() ? 0 : 1 + subtitleMetrics.height());
    int y = (height() - textHeight) / 2;

    p.setFont(nameFont);
    p.setPen(PanelColors::primary());
    p.drawText(QRect(textLeft, y, textRight - textLeft, nameMetrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter,
               nameMetrics.elidedText(m_item.name, Qt::ElideMiddle, textRight - textLeft));
    if (!sub.isEmpty()) {
        y += nameMetrics.height() + 1;
        p.setOpacity(1.0);
        p.setFont(subtitleFont);
        p.setPen(isMissing() ? PanelColors::missing() : PanelColors::secondary());
        p.drawText(QRect(textLeft, y, textRight - textLeft, subtitleMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   subtitleMetrics.elidedText(sub, Qt::ElideMiddle, textRight - textLeft));
    }
    if (m_item.pinned)
        Symbols::pin(p, QRectF(width() - 8 - 10, (height() - 10) / 2.0, 10, 10), PanelColors::secondary());
    if (m_focusRing) {
        p.setOpacity(1.0);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(PanelColors::accent(), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
    }
}
