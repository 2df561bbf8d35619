// The desktop's general clipboard (not the primary selection).
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

namespace Pasteboard {
// Replaces whatever the clipboard held by one plain text.
void setGeneralString(const QString &text);
// The clipboard's plain text, empty when it holds none.
QString generalString();

// Puts files on the clipboard as files: a file manager's Paste copies them, a text field gets
// their paths, one per line.
void setFiles(const QList<QUrl> &files);
// The local files the clipboard holds, as file managers copy (or cut) them; none when it holds
// anything else.
QList<QUrl> files();
} // namespace Pasteboard
