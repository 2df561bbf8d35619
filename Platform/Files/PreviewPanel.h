// Stowbay's own file preview window: one item at a time out of a list that its data source
// gives, with Left and Right to step through the list and Space or Escape to close it. Images
// are scaled to fit, text files show their beginning in a monospaced font, folders list their
// entries, and anything else shows its large thumbnail, or a large icon, with its name, kind, size and
// modification date. It stays above every other window, the panel included.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QStackedWidget;
class PreviewImageView;

class PreviewPanelDataSource {
public:
    virtual ~PreviewPanelDataSource() = default;
    virtual int numberOfPreviewItems() const = 0;
    virtual QUrl previewItemURL(int index) const = 0;
};

class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    enum class Content { none, image, text, folder, file };

    static constexpr qint64 textLimit = 256 * 1024; // bytes of a text file shown
    static constexpr int folderLimit = 2000;        // entries of a folder listed
    static constexpr int largeThumbnailSize = 256;  // points a file's thumbnail takes at most

    // The one preview window, created on first use; null without a running application.
    static PreviewPanel *shared();

    void setDataSource(PreviewPanelDataSource *source);
    // Asks the data source again for its items.
    void reloadData();
    int currentPreviewItemIndex() const { return m_index; }
    void setCurrentPreviewItemIndex(int index);
    int itemCount() const { return m_urls.size(); }
    QUrl currentPreviewItemURL() const;
    Content currentContent() const { return m_content; }
    // What the window says about the current item: the text shown, or the facts under the icon.
    QString shownText() const;
    // Shows the window in front of every other one and gives it the keyboard.
    void makeKeyAndOrderFront();
    // Hides the window and gives the keyboard back to the window of ours that had it.
    void dismiss();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    explicit PreviewPanel(QWidget *parent = nullptr);
    void showCurrent();
    void showImage(const QString &path);
    void showText(const QString &path);
    void showFolder(const QString &path);
    void showFile(const QString &path);
    void readThumbnail(bool askWhenMissing);

    PreviewPanelDataSource *m_source = nullptr;
    QList<QUrl> m_urls;
    int m_index = 0;
    Content m_content = Content::none;
    bool m_placed = false;
    QPointer<QWidget> m_returnFocus;
    bool m_dirty = false; // the items changed since the window last drew one

    QStackedWidget *m_pages = nullptr;
    PreviewImageView *m_image = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QListWidget *m_folder = nullptr;
    QWidget *m_filePage = nullptr;
    QLabel *m_fileIcon = nullptr;
    QByteArray m_thumbnailURI; // of the file shown with its icon
    QLabel *m_fileName = nullptr;
    QLabel *m_fileFacts = nullptr;
    QLabel *m_footer = nullptr;
};
