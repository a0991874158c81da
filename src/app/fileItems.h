#pragma once

#include <QTreeWidgetItem>
#include <cstdint>

namespace tonvert {

// What a row of a file list keeps besides its texts.
inline constexpr int kSizeRole = Qt::UserRole;         // the size in bytes, qint64
inline constexpr int kFileNameRole = Qt::UserRole + 1; // a local file's name on disk

inline constexpr int kNameColumn = 0;
inline constexpr int kTypeColumn = 1;

std::int64_t itemSize(const QTreeWidgetItem& item);

// The user's locale's comparison of texts, without regard to case.
int compareTexts(const QString& a, const QString& b);

// Orders of the file lists by sort code: +k ascending by column k (1-based), -k descending.
// Local MIDI list: 1 name, 2 type, 3 play time text, 4 (and any other code) size.
int compareLocalMidiItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int code);
// Other file lists: 1 name, 2 type, 3 (and any other code) size.
int compareFileItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int code);

} // namespace tonvert
