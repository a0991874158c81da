#include "reportModel.h"

namespace tonvert {

ReportModel::ReportModel(std::vector<ReportColumn> columns, QObject* parent)
    : QAbstractTableModel(parent)
    , columns_(std::move(columns)) {}

int ReportModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(columns_.size()))
        return {};
    const ReportColumn& column = columns_[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole)
        return column.caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ReportModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (rowsDraggable_ && index.isValid())
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

void ReportModel::movedRows(const std::vector<int>& from) {
    std::vector<int> to(from.size());
    for (std::size_t i = 0; i < from.size(); ++i)
        to[static_cast<std::size_t>(from[i])] = static_cast<int>(i);
    const QModelIndexList old = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(old.size());
    for (const QModelIndex& index : old)
        moved << this->index(to[static_cast<std::size_t>(index.row())], index.column());
    changePersistentIndexList(old, moved);
}

} // namespace tonvert
