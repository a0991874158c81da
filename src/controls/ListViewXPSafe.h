#pragma once

#include <QTreeWidget>
#include <functional>
#include <vector>

namespace tonvert {

// The report list of the file panes: rows of a caption and sub-items under a header, with
// whole-row and multiple selection. The list keeps its sort code in `tag` (0 unsorted, +k
// ascending by column k counted from 1, -k descending) and sorts with a comparison the
// owner supplies.
class TListViewXPSafe : public QTreeWidget {
    Q_OBJECT
public:
    // Negative, zero or positive as the first item sorts before, with or after the second.
    using Comparison = std::function<int(const QTreeWidgetItem&, const QTreeWidgetItem&, int)>;

    explicit TListViewXPSafe(QWidget* parent = nullptr);

    int tag = 0;

    struct Column {
        QString caption;
        int width;
        Qt::Alignment alignment = Qt::AlignLeft;
    };
    void setColumns(const std::vector<Column>& columns);
    Qt::Alignment columnAlignment(int column) const;

    // Orders the rows by the comparison with the given code; rows that compare equal keep
    // their relative order.
    void customSort(const Comparison& compare, int code);

signals:
    // A header was clicked: the column's index, counted from 0.
    void columnClicked(int column);
};

} // namespace tonvert
