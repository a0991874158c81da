#include "filePane.h"

#include <QAction>
#include <QMenu>

#include "ListViewXPSafe.h"
#include "busyCursor.h"

namespace tonvert {

FilePane::FilePane(const char* prefix, const std::vector<FileListModel::Column>& columns,
                   MainState& state, const Seams& seams, QWidget* parent)
    : QFrame(parent)
    , state_(state)
    , seams_(seams)
    , prefix_(prefix) {
    setObjectName(name("Panel"));
    model_ = new FileListModel(columns, this);
    list_ = new TListViewXPSafe(this);
    list_->setObjectName(name("ListView"));
    list_->setReportModel(model_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(model_, &QAbstractItemModel::modelReset, this, &FilePane::sortPending);
}

QString FilePane::name(const char* suffix) const {
    return QString::fromLatin1(prefix_) + QString::fromLatin1(suffix);
}

void FilePane::createPopupMenu(std::initializer_list<MenuEntry> entries) {
    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(name("ListPopupMenu"));
    fillMenu(popupMenu_, entries);
    connect(list_, &QWidget::customContextMenuRequested, popupMenu_,
            [this](const QPoint& at) { popupMenu_->popup(list_->viewport()->mapToGlobal(at)); });
}

QAction* FilePane::popupItem(const char* caption) const {
    return popupMenu_->findChild<QAction*>(name("ListPopupMenu") + QString::fromLatin1(caption));
}

void FilePane::onPopupItem(const char* caption, std::function<void()> handler) {
    connect(popupItem(caption), &QAction::triggered, this, std::move(handler));
}

std::vector<FileRow> FilePane::selectedFiles() const {
    std::vector<FileRow> files;
    for (const int row : list_->selectedRows())
        files.push_back(model_->row(row));
    return files;
}

void FilePane::sortByColumn(int column, FileListModel::Comparison compare) {
    const int code = column + 1;
    list_->tag = list_->tag == code ? -code : code;
    pendingSort_ = nullptr;
    BusyCursor busy;
    model_->sortRows(compare, list_->tag);
}

int FilePane::sortCode() const {
    return list_->tag;
}

void FilePane::restoreSort(int code, FileListModel::Comparison compare) {
    const int columns = model_->columnCount();
    list_->tag = code >= -columns && code <= columns ? code : 0;
    pendingSort_ = list_->tag != 0 ? compare : nullptr;
    sortPending();
}

void FilePane::sortPending() {
    if (pendingSort_ == nullptr || model_->rowCount() == 0)
        return;
    // Once only: a pane that lists its rows in the service's order keeps doing so after.
    const FileListModel::Comparison compare = pendingSort_;
    pendingSort_ = nullptr;
    model_->sortRows(compare, list_->tag);
}

void FilePane::reselect(const std::vector<FileRow>& remembered) {
    list_->selectRows(rowsOfKept(model_->rows(), remembered));
}

} // namespace tonvert
