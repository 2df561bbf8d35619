#include "FileDropLoader.h"

#include "StowbayItem.h"

#include <QCoreApplication>
#include <QMimeData>

// The path keeps the URL's own bytes: decoding it to text would turn a byte that is not UTF-8 into
// U+FFFD, the name of another file.
QUrl FileDropLoader::localFileURL(const QUrl &url) {
    if (!isLocalFileURL(url)) return QUrl();
    QUrl local;
    local.setScheme(QStringLiteral("file"));
    local.setPath(url.path(QUrl::FullyEncoded), QUrl::StrictMode);
    return local;
}

void FileDropLoader::load(const QMimeData *data, std::function<void(QList<QUrl>)> completion) {
    QList<QUrl> result;
    if (data && data->hasUrls()) {
        for (const QUrl &url : data->urls()) {
            const QUrl local = localFileURL(url);
            if (!local.isEmpty()) result << local;
        }
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !completion) return;
    QMetaObject::invokeMethod(
        app, [completion = std::move(completion), result] { completion(result); }, Qt::QueuedConnection);
}
