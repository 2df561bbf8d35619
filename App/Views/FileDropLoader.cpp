#include "Views/FileDropLoader.h"

#include "Interaction/StowbayDragSource.h"
#include "Items/StowbayItem.h"

#include <QCoreApplication>
#include <QMimeData>
#include <QThreadPool>
#include <algorithm>

// The path keeps the URL's own bytes: decoding it to text would turn a byte that is not UTF-8 into
// U+FFFD, the name of another file.
QUrl FileDropLoader::localFileURL(const QUrl &url) {
    if (!isLocalFileURL(url)) return QUrl();
    QUrl local;
    local.setScheme(QStringLiteral("file"));
    local.setPath(url.path(QUrl::FullyEncoded), QUrl::StrictMode);
    return local;
}

namespace {
// The URLs of a text/uri-list, one a line; blank lines and comments are left out.
QList<QUrl> uriListURLs(QByteArray list) {
    if (list.endsWith('\0')) list.chop(1);
    QList<QUrl> urls;
    for (const QByteArray &line : list.split('\n')) {
        const QByteArray url = line.trimmed();
        if (!url.isEmpty() && !url.startsWith('#')) urls << QUrl::fromEncoded(url);
    }
    return urls;
}

// The URLs of the drag that last hovered over a Stowbay window, and that drag's data object.
struct Hovered {
    const QMimeData *data = nullptr;
    QList<QUrl> urls;
};
Hovered &hovered() {
    static Hovered last;
    return last;
}
} // namespace

bool FileDropLoader::offersFiles(const QMimeData *data) {
    if (!data || StowbayDragSource::isInternal(data) || !data->hasUrls()) return false;
    hovered() = {data, data->urls()};
    return std::any_of(hovered().urls.cbegin(), hovered().urls.cend(),
                       [](const QUrl &url) { return !localFileURL(url).isEmpty(); });
}

// The data is read at once, while the drop lasts; turning its lines into URLs happens on a worker
// thread, so that thousands of files dropped at once do not hold up the panel.
void FileDropLoader::load(const QMimeData *data, std::function<void(QList<QUrl>)> completion) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !completion) return;
    QByteArray uriList;
    QList<QUrl> urls;
    if (data && data->hasUrls()) {
        uriList = data->data(QStringLiteral("text/uri-list"));
        if (uriList.isEmpty()) urls = data->urls(); // offered in a form that Qt converts
    }
    if (uriList.isEmpty() && urls.isEmpty() && data && data == hovered().data) urls = hovered().urls;
    hovered() = {};
    QThreadPool::globalInstance()->start([app, uriList, urls, completion = std::move(completion)] {
        QList<QUrl> result;
        for (const QUrl &url : uriList.isEmpty() ? urls : uriListURLs(uriList)) {
            const QUrl local = localFileURL(url);
            if (!local.isEmpty()) result << local;
        }
        QMetaObject::invokeMethod(
            app, [completion, result] { completion(result); }, Qt::QueuedConnection);
    });
}
