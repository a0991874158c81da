#pragma once

#include <QFrame>
#include <functional>
#include <initializer_list>
#include <vector>

#include "fileRows.h"
#include "mainState.h"
#include "paneWidgets.h"

class QAction;
class QMenu;

namespace tonvert {

class TListViewXPSafe;

// What every file pane has: a list of file rows under its columns, a popup menu, the sort by
// a header click, and the names of its widgets, made from the pane's prefix.
class FilePane : public QFrame {
    Q_OBJECT
public:
    // The selected files from top to bottom.
    std::vector<FileRow> selectedFiles() const;

    TListViewXPSafe& list() { return *list_; }
    FileListModel& model() { return *model_; }

    // The list's sort code (0 unsorted, +k ascending by column k counted from 1, -k
    // descending), as the settings file keeps it.
    int sortCode() const;
    // Takes a kept sort code: the rows are sorted by it at once, or when the list is first
    // filled if it is empty now. A code for no column of the list leaves it unsorted.
    void restoreSort(int code, FileListModel::Comparison compare);

protected:
    FilePane(const char* prefix, const std::vector<FileListModel::Column>& columns,
             MainState& state, const Seams& seams, QWidget* parent);

    QString name(const char* suffix) const;
    // The popup menu of the list, shown where the user asks for it.
    void createPopupMenu(std::initializer_list<MenuEntry> entries);
    QAction* popupItem(const char* caption) const;
    void onPopupItem(const char* caption, std::function<void()> handler);
    // A click on a header sorts by its column, the other way round on the next click.
    void sortByColumn(int column, FileListModel::Comparison compare);
    // Selects again the rows of files that were selected before the rows were replaced.
    void reselect(const std::vector<FileRow>& remembered);

    MainState& state_;
    Seams seams_;
    TListViewXPSafe* list_ = nullptr;
    FileListModel* model_ = nullptr;
    QMenu* popupMenu_ = nullptr;

private:
    void sortPending();

    const char* prefix_;
    // The comparison of a restored sort that waits for rows.
    FileListModel::Comparison pendingSort_ = nullptr;
};

} // namespace tonvert
