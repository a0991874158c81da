#include "fileRows.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include "fileListText.h"
#include "userCollation.h"

namespace tonvert {

namespace {

template <class T> int compareValues(const T& x, const T& y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

int compareSizes(const FileRow& a, const FileRow& b) {
    return compareValues(a.size.value_or(0), b.size.value_or(0));
}

// Unknown play times sort after every known one.
int comparePlayTimes(const FileRow& a, const FileRow& b) {
    if (a.playTime && b.playTime)
        return compareValues(*a.playTime, *b.playTime);
    return compareValues(!a.playTime, !b.playTime);
}

// `columns` lists the comparison of each column in order; the last one also serves every
// code beyond the columns. A negative code names a column and reverses its order.
int compareByCode(const FileRow& a, const FileRow& b, int code,
                  std::initializer_list<int (*)(const FileRow&, const FileRow&)> columns) {
    const int count = static_cast<int>(columns.size());
    const int column = code < 0 ? -code : code;
    const bool named = column >= 1 && column <= count;
    const auto compare = named ? columns.begin()[column - 1] : columns.begin()[count - 1];
    const int order = compare(a, b);
    return code < 0 && named ? -order : order;
}

int compareNames(const FileRow& a, const FileRow& b) {
    return compareTexts(a.name(), b.name());
}

int compareTypes(const FileRow& a, const FileRow& b) {
    return compareTexts(a.type, b.type);
}

QVariant optionalNumber(const std::optional<std::uint64_t>& value) {
    return value ? QVariant::fromValue<qint64>(static_cast<qint64>(*value)) : QVariant();
}

} // namespace

FileListModel::FileListModel(const std::vector<Column>& columns, QObject* parent)
    : RowsModel<FileRow>(
          [&] {
              std::vector<ReportColumn> report;
              for (const Column& column : columns)
                  report.push_back(column.report);
              return report;
          }(),
          parent) {
    for (const Column& column : columns)
        contents_.push_back(column.content);
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FileRow& file = row(index.row());
    const FileColumn content = contents_[static_cast<std::size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (content) {
        case FileColumn::name:
            return displayName(file);
        case FileColumn::type:
            return displayType(file);
        case FileColumn::playTime:
            return file.playTime ? QString::fromStdString(playTimeText(*file.playTime))
                                 : QStringLiteral("?");
        case FileColumn::size:
            return file.size ? QString::fromStdString(sizeText(*file.size)) : QStringLiteral("?");
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(columns()[static_cast<std::size_t>(index.column())].alignment |
                                   Qt::AlignVCenter);
    case kSizeRole:
        return optionalNumber(file.size);
    case kPlayTimeRole:
        return file.playTime ? QVariant(*file.playTime) : QVariant();
    case kRecordRole:
        return optionalNumber(file.record);
    case kFileNameRole:
        return QByteArray(file.fileName.data(), static_cast<qsizetype>(file.fileName.size()));
    default:
        return {};
    }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = RowsModel<FileRow>::flags(index);
    if (captionsEditable_ && index.isValid() &&
        contents_[static_cast<std::size_t>(index.column())] == FileColumn::name)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    emit captionEdited(index.row(), value.toString());
    return true;
}

QString displayName(const FileRow& row) {
    const std::string_view name = row.name();
    return QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()));
}

QString displayType(const FileRow& row) {
    return QString::fromLocal8Bit(row.type.data(), static_cast<qsizetype>(row.type.size()));
}

namespace {

// What identifies a file for a kept selection; names that are not valid text keep their
// bytes, so that two of them do not meet as the same replacement characters.
QString keptKey(const FileRow& row) {
    const QString name = displayName(row);
    const QString type =
        QString::fromLatin1(row.type.data(), static_cast<qsizetype>(row.type.size()));
    if (name.contains(QChar::ReplacementCharacter))
        return type + QLatin1Char('\1') +
               QString::fromLatin1(row.fileName.data(),
                                   static_cast<qsizetype>(row.fileName.size()));
    return type + QLatin1Char('\0') + name.toCaseFolded();
}

} // namespace

std::vector<int> rowsOfKept(const std::vector<FileRow>& rows, const std::vector<FileRow>& kept) {
    std::vector<int> found;
    if (kept.empty())
        return found;
    QHash<QString, int> firstRow;
    firstRow.reserve(static_cast<qsizetype>(rows.size()));
    // From the bottom up, so that the first row of a key is the one that stays.
    for (std::size_t i = rows.size(); i-- > 0;)
        firstRow.insert(keptKey(rows[i]), static_cast<int>(i));
    for (const FileRow& file : kept) {
        const auto at = firstRow.constFind(keptKey(file));
        if (at != firstRow.constEnd())
            found.push_back(*at);
    }
    return found;
}

int compareTexts(std::string_view a, std::string_view b) {
    thread_local const QCollator collator = userCollator();
    return collator.compare(QString::fromLocal8Bit(a.data(), static_cast<qsizetype>(a.size())),
                            QString::fromLocal8Bit(b.data(), static_cast<qsizetype>(b.size())));
}

int compareLocalMidiItems(const FileRow& a, const FileRow& b, int code) {
    return compareByCode(a, b, code, {compareNames, compareTypes, comparePlayTimes, compareSizes});
}

int compareFileItems(const FileRow& a, const FileRow& b, int code) {
    return compareByCode(a, b, code, {compareNames, compareTypes, compareSizes});
}

} // namespace tonvert
