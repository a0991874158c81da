#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileRow.h"
#include "reportModel.h"

namespace tonvert {

// The texts of a row as the user reads them.
QString displayName(const FileRow& row);
QString displayType(const FileRow& row);

// Typed data of a row, for whoever reads the list through its model.
inline constexpr int kSizeRole = Qt::UserRole;         // qint64, or none
inline constexpr int kPlayTimeRole = Qt::UserRole + 1; // double seconds, or none when unknown
inline constexpr int kRecordRole = Qt::UserRole + 2;   // qint64, or none
inline constexpr int kFileNameRole = Qt::UserRole + 3; // QByteArray

enum class FileColumn { name, type, playTime, size };

// The rows of a file pane under the pane's columns. The captions of a local pane can be
// edited in place: the edit is handed to the pane, which renames the file.
class FileListModel : public RowsModel<FileRow> {
    Q_OBJECT
public:
    struct Column {
        FileColumn content;
        ReportColumn report;
    };
    explicit FileListModel(const std::vector<Column>& columns, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    void setCaptionsEditable(bool editable) { captionsEditable_ = editable; }

signals:
    // The user finished editing the caption of `row`; the row still shows its old name.
    void captionEdited(int row, const QString& text);

private:
    std::vector<FileColumn> contents_;
    bool captionsEditable_ = false;
};

// The rows that a kept selection finds again: for each kept file, the first row of the same
// type and the same name without regard to case. A name that is not valid text matches only
// byte for byte.
std::vector<int> rowsOfKept(const std::vector<FileRow>& rows, const std::vector<FileRow>& kept);

// The user's locale's comparison of texts in the system's encoding, without regard to case.
int compareTexts(std::string_view a, std::string_view b);

// Orders of the file lists by sort code: +k ascending by column k (1-based), -k descending.
// Local MIDI list: 1 name, 2 type, 3 play time (unknown last), 4 (and any other code) size.
int compareLocalMidiItems(const FileRow& a, const FileRow& b, int code);
// Other file lists: 1 name, 2 type, 3 (and any other code) size.
int compareFileItems(const FileRow& a, const FileRow& b, int code);

} // namespace tonvert
