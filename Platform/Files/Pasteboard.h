// The desktop's general clipboard (not the primary selection).
#pragma once

#include <QString>

namespace Pasteboard {
// Replaces whatever the clipboard held by one plain text.
void setGeneralString(const QString &text);
// The clipboard's plain text, empty when it holds none.
QString generalString();
} // namespace Pasteboard
