#include "Files/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
// GTK file managers: "copy" or "cut", then one URL a line.
constexpr const char *gnomeCopiedFiles = "x-special/gnome-copied-files";

QClipboard *clipboard() {
    return QGuiApplication::clipboard();
}

QList<QUrl> localFiles(const QList<QUrl> &urls) {
    QList<QUrl> files;
    for (const QUrl &url : urls)
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url;
    return files;
}
} // namespace

void Pasteboard::setGeneralString(const QString &text) {
    if (QClipboard *c = clipboard()) c->setText(text, QClipboard::Clipboard);
}

QString Pasteboard::generalString() {
    if (QClipboard *c = clipboard()) return c->text(QClipboard::Clipboard);
    return {};
}

void Pasteboard::setFiles(const QList<QUrl> &files) {
    QClipboard *c = clipboard();
    if (!c || files.isEmpty()) return;
    auto *data = new QMimeData;
    data->setUrls(files); // text/uri-list, which KDE's file managers read
    QByteArray gnome = "copy";
    QStringList paths;
    for (const QUrl &url : files) {
        gnome += '\n' + url.toEncoded();
        paths << url.toLocalFile();
    }
    data->setData(QString::fromLatin1(gnomeCopiedFiles), gnome);
    data->setText(paths.join('\n'));
    c->setMimeData(data, QClipboard::Clipboard);
}

QList<QUrl> Pasteboard::files() {
    QClipboard *c = clipboard();
    const QMimeData *data = c ? c->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data) return {};
    if (data->hasUrls()) return localFiles(data->urls());
    const QByteArray gnome = data->data(QString::fromLatin1(gnomeCopiedFiles));
    QList<QUrl> urls;
    const QList<QByteArray> lines = gnome.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) // the first line says "copy" or "cut"
        if (!lines[i].trimmed().isEmpty()) urls << QUrl::fromEncoded(lines[i].trimmed());
    return localFiles(urls);
}
