#include "FileDropLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QMimeData>
#include <QSysInfo>

QUrl FileDropLoader::localFileURL(const QUrl &url) {
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0) return {};
    // Some applications name this machine in the URL; a file on another host is not ours to keep.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0 &&
        host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return {};
    const QString path = url.path();
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) return {};
    return QUrl::fromLocalFile(path);
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
