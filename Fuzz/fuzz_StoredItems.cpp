// Feeds arbitrary bytes to the stored-file reader. Whatever it accepts must write back to a text
// it reads again as the same list (dates at whole seconds), and never more than 100 items.
#include "Items/StowbayItem.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QList<StowbayItem>> items = StoredItems::decode(text);
    if (!items) return 0;
    if (items->size() > 100) std::abort();
    const QByteArray written = StoredItems::encode(*items);
    const std::optional<QList<StowbayItem>> again = StoredItems::decode(written);
    if (!again || StoredItems::encode(*again) != written) std::abort();
    return 0;
}
