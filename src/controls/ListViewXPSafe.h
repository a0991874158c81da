#pragma once

#include <QString>
#include <QTreeView>
#include <vector>

#include "reportModel.h"

namespace tonvert {

// The report list of the panes and dialogs: rows under a header, whole-row selection. The
// list keeps its sort code in `tag` (0 unsorted, +k ascending by column k counted from 1, -k
// descending); its model sorts the rows.
class TListViewXPSafe : public QTreeView {
    Q_OBJECT
public:
    explicit TListViewXPSafe(QWidget* parent = nullptr);

    int tag = 0;

    // Shows the model's rows with its columns at their default widths.
    void setReportModel(ReportModel* model);
    Qt::Alignment columnAlignment(int column) const;

    // The selected rows from top to bottom.
    std::vector<int> selectedRows() const;
    bool hasSelection() const;
    // Selects the given rows in one step, leaving others as they are.
    void selectRows(const std::vector<int>& rows);
    void selectRow(int row);

    // Lets the user edit the captions in place (F2, or a click on a selected row); the model
    // decides which cells can be edited.
    void setCaptionsEditable(bool editable);

    // Brings a row into view up and down only: a click on a row selects the whole row, so
    // the list keeps its sideways position.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    // The whole text of the cell at a point of the viewport when the cell shows it cut
    // short; empty when it shows all of it.
    QString toolTipAt(const QPoint& at) const;

signals:
    // A header was clicked: the column's index, counted from 0.
    void columnClicked(int column);
    // A key went down in the list. Accepting the event keeps the list from handling it.
    void keyDown(QKeyEvent* event);
    // The selection changed. Not told while the list's signals are blocked.
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // The keyboard's way to the popup menu: at the current row, or the top of the list.
    void requestPopupAtCurrentRow();
};

} // namespace tonvert
