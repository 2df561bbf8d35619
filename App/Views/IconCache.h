// The icons of the item rows, remembered so that a row can be redrawn often without asking the
// icon theme each time. Main thread only.
#pragma once

#include <QIcon>
#include <QString>

namespace IconCache {
// The file's own icon when it exists; one plain document icon for every missing file. Never null
// as long as the theme or the style has a file icon. Entries are kept under "path|1" / "path|0".
QIcon icon(const QString &path, bool exists);
} // namespace IconCache
