// Turns what the user drops on the panel into plain local file URLs.
#pragma once

#include <QList>
#include <QUrl>
#include <functional>

class QMimeData;

namespace FileDropLoader {
// Takes the drop's local file URLs (file URLs of this machine; web addresses, other hosts' files
// and text that is no URL are left out) and hands them to `completion` exactly once, always later
// and on the main thread, also when there are none. The data is read before load() returns; the
// URLs are taken from it on a worker thread.
void load(const QMimeData *data, std::function<void(QList<QUrl>)> completion);

// The local file URL `url` stands for, with no host; an empty URL when it is none.
QUrl localFileURL(const QUrl &url);

// Whether a drag hovering over one of Stowbay's windows brings files from elsewhere (a drag out of
// the panel never does). Its URLs are kept as they are read now: in some Wayland sessions a native
// drag's data can be read only while it hovers, and its drop then arrives without data. A drop
// with no URLs of its own, of the same drag, takes the kept ones.
bool offersFiles(const QMimeData *data);
} // namespace FileDropLoader
