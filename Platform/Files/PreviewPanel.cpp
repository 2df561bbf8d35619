#include "Files/PreviewPanel.h"

#include "Files/ThumbnailerService.h"
#include "Files/Thumbnails.h"
#include "Files/Workspace.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMimeDatabase>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>

// Draws one image as large as fits, never larger than it is, centred on a dark ground.
class PreviewImageView : public QWidget {
public:
    using QWidget::QWidget;
    void setImage(const QImage &image) {
        m_image = image;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(30, 30, 30));
        if (m_image.isNull()) return;
        const qreal dpr = m_image.devicePixelRatio();
        QSizeF size = QSizeF(m_image.size()) / dpr;
        if (size.width() > width() || size.height() > height()) size.scale(this->size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), size);
        target.moveCenter(QRectF(rect()).center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }

private:
    QImage m_image;
};

namespace {
QPointer<PreviewPanel> &sharedPanel() {
    static QPointer<PreviewPanel> panel;
    return panel;
}

// Windows have to go before the application object does.
void deleteSharedPanel() {
    delete sharedPanel().data();
}
} // namespace

PreviewPanel *PreviewPanel::shared() {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) return nullptr;
    QPointer<PreviewPanel> &panel = sharedPanel();
    if (!panel) {
        panel = new PreviewPanel;
        qAddPostRoutine(deleteSharedPanel);
    }
    return panel;
}

PreviewPanel::PreviewPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("StowbayPreview"));
    setWindowTitle(QStringLiteral("Preview"));
    setFocusPolicy(Qt::StrongFocus);
    resize(760, 560);

    m_pages = new QStackedWidget(this);
    m_image = new PreviewImageView(m_pages);
    m_text = new QPlainTextEdit(m_pages);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_folder = new QListWidget(m_pages);
    m_folder->setIconSize(QSize(24, 24));
    m_folder->setSelectionMode(QAbstractItemView::NoSelection);

    m_filePage = new QWidget(m_pages);
    auto *fileLayout = new QVBoxLayout(m_filePage);
    m_fileIcon = new QLabel(m_filePage);
    m_fileIcon->setAlignment(Qt::AlignCenter);
    connect(&ThumbnailerService::shared(), &ThumbnailerService::made, this, [this](const QByteArray &uri) {
        if (m_content == Content::file && uri == m_thumbnailURI) readThumbnail(false);
    });
    m_fileName = new QLabel(m_filePage);
    m_fileName->setAlignment(Qt::AlignCenter);
    m_fileName->setWordWrap(true);
    QFont nameFont = m_fileName->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    m_fileName->setFont(nameFont);
    m_fileFacts = new QLabel(m_filePage);
    m_fileFacts->setAlignment(Qt::AlignCenter);
    fileLayout->addStretch(1);
    fileLayout->addWidget(m_fileIcon);
    fileLayout->addWidget(m_fileName);
    fileLayout->addWidget(m_fileFacts);
    fileLayout->addStretch(1);

    for (QWidget *page : {static_cast<QWidget *>(m_image), static_cast<QWidget *>(m_text),
                          static_cast<QWidget *>(m_folder), m_filePage})
        m_pages->addWidget(page);

    m_footer = new QLabel(this);
    m_footer->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->addWidget(m_pages, 1);
    layout->addWidget(m_footer);

    // The keys belong to the window itself, whatever page shows.
    for (QWidget *child : findChildren<QWidget *>())
        child->setFocusPolicy(Qt::NoFocus);
}

void PreviewPanel::setDataSource(PreviewPanelDataSource *source) {
    m_source = source;
}

void PreviewPanel::reloadData() {
    m_urls.clear();
    const int count = m_source ? m_source->numberOfPreviewItems() : 0;
    for (int i = 0; i < count; ++i)
        m_urls << m_source->previewItemURL(i);
    m_index = qBound(0, m_index, qMax(0, int(m_urls.size()) - 1));
    m_dirty = true;
    if (isVisible()) showCurrent();
}

void PreviewPanel::setCurrentPreviewItemIndex(int index) {
    if (m_urls.isEmpty()) return;
    index = qBound(0, index, int(m_urls.size()) - 1);
    if (index == m_index && !m_dirty) return;
    m_index = index;
    showCurrent();
}

QUrl PreviewPanel::currentPreviewItemURL() const {
    return m_urls.value(m_index);
}

QString PreviewPanel::shownText() const {
    switch (m_content) {
    case Content::text:
        return m_text->toPlainText();
    case Content::file:
        return m_fileName->text() + '\n' + m_fileFacts->text();
    case Content::folder: {
        QStringList names;
        for (int i = 0; i < m_folder->count(); ++i)
            names << m_folder->item(i)->text();
        return names.join('\n');
    }
    default:
        return {};
    }
}

void PreviewPanel::makeKeyAndOrderFront() {
    if (!m_placed) {
        m_placed = true;
        QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    if (m_dirty) showCurrent();
    // The window of ours that had the keyboard gets it back when the preview closes.
    if (QWidget *active = QApplication::activeWindow(); active != this) m_returnFocus = active;
    show();
    raise();
    activateWindow();
}

void PreviewPanel::dismiss() {
    // Handed on before the window goes: the window manager would give it to whatever it
    // focused last, another program.
    if (m_returnFocus && m_returnFocus->isVisible() && isActiveWindow()) m_returnFocus->activateWindow();
    m_returnFocus = nullptr;
    hide();
}

void PreviewPanel::closeEvent(QCloseEvent *event) {
    event->ignore();
    dismiss();
}

void PreviewPanel::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Left:
        setCurrentPreviewItemIndex(m_index - 1);
        break;
    case Qt::Key_Right:
        setCurrentPreviewItemIndex(m_index + 1);
        break;
    case Qt::Key_Space:
    case Qt::Key_Escape:
        dismiss();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PreviewPanel::showCurrent() {
    m_dirty = false;
    m_footer->setText(m_urls.size() > 1 ? QStringLiteral("%1 of %2").arg(m_index + 1).arg(m_urls.size())
                                        : QString());
    m_footer->setVisible(m_urls.size() > 1);
    if (m_urls.isEmpty()) {
        m_content = Content::none;
        setWindowTitle(QStringLiteral("Preview"));
        return;
    }
    const QString path = m_urls.at(m_index).toLocalFile();
    const QFileInfo info(path);
    setWindowTitle(info.fileName().isEmpty() ? path : info.fileName());
    if (info.isDir()) return showFolder(path);
    if (info.isFile()) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
        QImageReader reader(path);
        if (type.name().startsWith(QLatin1String("image/")) && reader.canRead()) return showImage(path);
        if (type.inherits(QStringLiteral("text/plain")) && info.size() > 0) return showText(path);
    }
    showFile(path);
}

void PreviewPanel::showImage(const QString &path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) return showFile(path);
    m_image->setImage(image);
    m_pages->setCurrentWidget(m_image);
    m_content = Content::image;
}

void PreviewPanel::showText(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return showFile(path);
    m_text->setPlainText(QString::fromUtf8(file.read(textLimit)));
    m_pages->setCurrentWidget(m_text);
    m_content = Content::text;
}

void PreviewPanel::showFolder(const QString &path) {
    m_folder->clear();
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::DirsFirst | QDir::IgnoreCase);
    Workspace &workspace = Workspace::shared();
    for (int i = 0; i < entries.size() && i < folderLimit; ++i)
        new QListWidgetItem(workspace.icon(entries.at(i).filePath()), entries.at(i).fileName(), m_folder);
    if (entries.size() > folderLimit)
        new QListWidgetItem(QStringLiteral("… and %1 more").arg(entries.size() - folderLimit), m_folder);
    m_pages->setCurrentWidget(m_folder);
    m_content = Content::folder;
}

void PreviewPanel::showFile(const QString &path) {
    const QFileInfo info(path);
    Workspace &workspace = Workspace::shared();
    const QIcon icon = info.exists() ? workspace.icon(path) : workspace.genericDocumentIcon();
    m_fileIcon->setPixmap(icon.pixmap(QSize(128, 128), devicePixelRatioF()));
    m_fileName->setText(info.fileName());
    const QLocale locale;
    QStringList facts;
    if (info.exists()) {
        facts << QMimeDatabase().mimeTypeForFile(info).comment();
        if (info.isFile()) facts << locale.formattedDataSize(info.size(), 1, QLocale::DataSizeSIFormat);
        facts << QStringLiteral("Modified %1").arg(locale.toString(info.lastModified(), QLocale::LongFormat));
    } else {
        facts << QStringLiteral("The file is no longer there.");
    }
    m_fileFacts->setText(facts.join('\n'));
    m_pages->setCurrentWidget(m_filePage);
    m_content = Content::file;
    m_thumbnailURI = info.isFile() ? QUrl::fromLocalFile(path).toEncoded() : QByteArray();
    if (!m_thumbnailURI.isEmpty()) readThumbnail(true);
}

// The large thumbnail of the file shown, as its row shows the small one: read off the main
// thread from the shared cache, and asked of the desktop's thumbnailer once when it is not there.
void PreviewPanel::readThumbnail(bool askWhenMissing) {
    const QString path = QUrl::fromEncoded(m_thumbnailURI).toLocalFile();
    const QString mimeType = QMimeDatabase().mimeTypeForFile(path).name();
    QThreadPool::globalInstance()->start(
        [self = QPointer(this), uri = m_thumbnailURI, path, mimeType, askWhenMissing] {
            const std::optional<Thumbnails::Source> source = Thumbnails::source(path, mimeType);
            const QImage image = source ? Thumbnails::cached(*source, Thumbnails::Flavour::large) : QImage();
            const bool failed = source && image.isNull() && Thumbnails::failedBefore(*source);
            QMetaObject::invokeMethod(self, [self, uri, mimeType, image,
                                             ask = askWhenMissing && source && !failed] {
                if (!self || self->m_content != Content::file || uri != self->m_thumbnailURI) return;
                if (!image.isNull()) {
                    QPixmap picture = QPixmap::fromImage(image);
                    picture.setDevicePixelRatio(
                        std::max(1.0, std::max(image.width(), image.height()) / double(largeThumbnailSize)));
                    self->m_fileIcon->setPixmap(picture);
                } else if (ask) {
                    ThumbnailerService::shared().request(uri, mimeType,
                                                         Thumbnails::name(Thumbnails::Flavour::large));
                }
            });
        });
}
