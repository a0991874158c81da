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
    // their relative order, and the selection stays.
    void customSort(const Comparison& compare, int code);

    // Lets the user edit the captions in place (F2, or a click on a selected row); the other
    // columns stay read-only. `captionEdited` tells of each finished edit.
    void setCaptionsEditable(bool editable);

signals:
    // A header was clicked: the column's index, counted from 0.
    void columnClicked(int column);
    // A key went down in the list. Accepting the event keeps the list from handling it.
    void keyDown(QKeyEvent* event);
    // The user finished editing a caption; the item already shows the new text. Changes made
    // while the list's signals are blocked are not reported.
    void captionEdited(QTreeWidgetItem* item);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tonvert
