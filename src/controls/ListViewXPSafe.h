#pragma once

#include <QString>
#include <QTreeView>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reportModel.h"

class QMimeData;

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
    // Whether the editor of a caption is open.
    bool editing() const { return state() == EditingState; }

    // Brings a row into view up and down only: a click on a row selects the whole row, so
    // the list keeps its sideways position.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    // The whole text of the cell at a point of the viewport when the cell shows it cut
    // short; empty when it shows all of it.
    QString toolTipAt(const QPoint& at) const;

    // The first row shown at the top, or -1 when there is none.
    int topRow() const;
    // Scrolls the row to the top as far as the list allows.
    void scrollToTopRow(int row);
    // The row of the keyboard's focus, or -1; setting it leaves the selection alone.
    int currentRow() const;
    void setCurrentRow(int row);

    // Paths travel as the system's bytes: a name that is no valid text keeps its bytes
    // from a file manager to the list and back.

    // Local files dropped on the list (file URLs, as a file manager drags them) are taken
    // as copies and told by filesDropped; the list accepts no other drops. Off at first.
    void setFileDropsAccepted(bool accepted);
    // The selected rows drag out as files to copy, named by `paths`; none drag out while it
    // is empty (at first).
    using RowPaths = std::function<std::vector<std::string>(const std::vector<int>& rows)>;
    void setRowsDragOut(RowPaths paths);
    // What a drag of these rows carries: the URLs of their files. Null when no row has one.
    std::unique_ptr<QMimeData> fileDragData(const std::vector<int>& rows) const;
    // The local paths that the data's file URLs name; empty when it names none.
    static std::vector<std::string> localFilesOf(const QMimeData& data);

signals:
    // A header was clicked: the column's index, counted from 0.
    void columnClicked(int column);
    // A key went down in the list. Accepting the event keeps the list from handling it.
    void keyDown(QKeyEvent* event);
    // The selection changed. Not told while the list's signals are blocked.
    void changed();
    // Local files were dropped on a list that accepts them.
    void filesDropped(const std::vector<std::string>& paths);
    // The editor of a caption was closed, the edit taken or not.
    void editorClosed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // The keyboard's way to the popup menu: at the current row, or the top of the list.
    void requestPopupAtCurrentRow();
    // Whether a drag brings local files to copy; makes the drop a copy when it does.
    bool takesFiles(QDropEvent* event) const;
    void updateDragDropMode();

    bool fileDrops_ = false;
    RowPaths rowPaths_;
};

} // namespace tonvert
