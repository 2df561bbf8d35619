#include "FileDropLoader.h"

#include "StowbayItem.h"

#include <QCoreApplication>
#include <QMimeData>

QUrl FileDropLoader::localFileURL(const QUrl &url) {
    return isLocalFileURL(url) ? QUrl::fromLocalFile(url.path()) : QUrl();
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
