#include "ListViewXPSafe.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>
#include <algorithm>

namespace tonvert {

TListViewXPSafe::TListViewXPSafe(QWidget* parent)
    : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setFrameShape(QFrame::NoFrame);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);

    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    connect(header(), &QHeaderView::sectionClicked, this, &TListViewXPSafe::columnClicked);

    // The selection stays visible when the list loses the focus.
    QPalette colours = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
}

void TListViewXPSafe::setReportModel(ReportModel* model) {
    setModel(model);
    const auto& columns = model->columns();
    for (int i = 0; i < static_cast<int>(columns.size()); ++i)
        header()->resizeSection(i, columns[static_cast<std::size_t>(i)].width);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit changed(); });
}

Qt::Alignment TListViewXPSafe::columnAlignment(int column) const {
    const auto* report = static_cast<const ReportModel*>(model());
    return report->columns().at(static_cast<std::size_t>(column)).alignment;
}

std::vector<int> TListViewXPSafe::selectedRows() const {
    std::vector<int> rows;
    if (selectionModel() == nullptr)
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool TListViewXPSafe::hasSelection() const {
    return selectionModel() != nullptr && selectionModel()->hasSelection();
}

void TListViewXPSafe::selectRows(const std::vector<int>& rows) {
    QItemSelection selection;
    const int last = model()->columnCount() - 1;
    for (const int row : rows)
        selection.select(model()->index(row, 0), model()->index(row, last));
    selectionModel()->select(selection, QItemSelectionModel::Select);
}

void TListViewXPSafe::selectRow(int row) {
    selectRows({row});
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TListViewXPSafe::setCaptionsEditable(bool editable) {
    setEditTriggers(editable
                        ? QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
                        : QAbstractItemView::NoEditTriggers);
}

void TListViewXPSafe::scrollTo(const QModelIndex& index, ScrollHint hint) {
    const int sideways = horizontalScrollBar()->value();
    QTreeView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(sideways);
}

void TListViewXPSafe::keyPressEvent(QKeyEvent* event) {
    event->ignore();
    emit keyDown(event);
    if (!event->isAccepted())
        QTreeView::keyPressEvent(event);
}

} // namespace tonvert
