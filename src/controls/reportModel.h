#pragma once

#include <QAbstractTableModel>
#include <algorithm>
#include <numeric>
#include <vector>

namespace tonvert {

// A column of a report list: its caption, default width in pixels and alignment.
struct ReportColumn {
    QString caption;
    int width;
    Qt::Alignment alignment = Qt::AlignLeft;
};

// The rows behind a report list. The columns are fixed at creation; the rows belong to the
// subclass, which makes each display text when the view asks for it.
class ReportModel : public QAbstractTableModel {
public:
    explicit ReportModel(std::vector<ReportColumn> columns, QObject* parent = nullptr);

    const std::vector<ReportColumn>& columns() const { return columns_; }
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Lets the views drag the rows out; what a drag carries is the view's to say.
    void setRowsDraggable(bool draggable) { rowsDraggable_ = draggable; }

protected:
    // Tells the views that the rows now stand in a new order: the row at position i came
    // from `from[i]`. Selections and the current row follow their rows.
    void movedRows(const std::vector<int>& from);

private:
    std::vector<ReportColumn> columns_;
    bool rowsDraggable_ = false;
};

// A report model over a vector of typed rows.
template <class Row> class RowsModel : public ReportModel {
public:
    using ReportModel::ReportModel;
    // Negative, zero or positive as the first row sorts before, with or after the second.
    using Comparison = int (*)(const Row&, const Row&, int code);

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    const std::vector<Row>& rows() const { return rows_; }
    const Row& row(int position) const { return rows_[static_cast<std::size_t>(position)]; }

    // Replaces every row at once: the views lay out the new rows once, not one by one.
    void setRows(std::vector<Row> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    void clear() { setRows({}); }

    void setRow(int position, Row row) {
        rows_[static_cast<std::size_t>(position)] = std::move(row);
        emit dataChanged(index(position, 0), index(position, columnCount() - 1));
    }

    // Orders the rows by the comparison with the given code; rows that compare equal keep
    // their order.
    void sortRows(Comparison compare, int code) {
        std::vector<int> from(rows_.size());
        std::iota(from.begin(), from.end(), 0);
        std::stable_sort(from.begin(), from.end(), [&](int a, int b) {
            return compare(rows_[static_cast<std::size_t>(a)], rows_[static_cast<std::size_t>(b)],
                           code) < 0;
        });
        emit layoutAboutToBeChanged();
        std::vector<Row> sorted;
        sorted.reserve(rows_.size());
        for (const int i : from)
            sorted.push_back(std::move(rows_[static_cast<std::size_t>(i)]));
        rows_ = std::move(sorted);
        movedRows(from);
        emit layoutChanged();
    }

    // Sorts rows that are not shown yet, before they go into a model.
    static void sortRows(std::vector<Row>& rows, Comparison compare, int code) {
        std::stable_sort(rows.begin(), rows.end(),
                         [&](const Row& a, const Row& b) { return compare(a, b, code) < 0; });
    }

private:
    std::vector<Row> rows_;
};

} // namespace tonvert
