#include "fileItems.h"

#include <QCollator>
#include <QLocale>

namespace tonvert {

namespace {

int compareSizes(const QTreeWidgetItem& a, const QTreeWidgetItem& b) {
    const std::int64_t x = itemSize(a), y = itemSize(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int compareColumn(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column) {
    return compareTexts(a.text(column), b.text(column));
}

// Sorts by text column |code| - 1 when |code| names one of `textColumns`, else by size; a
// negative code reverses the order.
int compareByCode(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int code, int textColumns,
                  int sizeCode) {
    const int column = code < 0 ? -code : code;
    const bool descending = code < 0 && (column <= textColumns || column == sizeCode);
    const int order =
        column >= 1 && column <= textColumns ? compareColumn(a, b, column - 1) : compareSizes(a, b);
    return descending ? -order : order;
}

} // namespace

std::int64_t itemSize(const QTreeWidgetItem& item) {
    return item.data(kNameColumn, kSizeRole).toLongLong();
}

int compareTexts(const QString& a, const QString& b) {
    thread_local QCollator collator = [] {
        QCollator c(QLocale::system());
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator.compare(a, b);
}

int compareLocalMidiItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int code) {
    return compareByCode(a, b, code, 3, 4);
}

int compareFileItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int code) {
    return compareByCode(a, b, code, 2, 3);
}

} // namespace tonvert
