#include "ListViewXPSafe.h"

#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPalette>
#include <QScrollBar>
#include <QToolTip>
#include <QUrl>
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

    // The last column takes the room that is left, so a right-aligned last column ends at
    // the edge of the list (or of its scroll bar) at any width.
    header()->setStretchLastSection(true);
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
    model->setRowsDraggable(static_cast<bool>(rowPaths_));
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
    // From the ranges: asking row by row costs the number of ranges for every row.
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

bool TListViewXPSafe::hasSelection() const {
    return selectionModel() != nullptr && selectionModel()->hasSelection();
}

void TListViewXPSafe::selectRows(const std::vector<int>& rows) {
    std::vector<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    // Neighbouring rows make one range: a long selection stays a few ranges.
    QItemSelection selection;
    const int last = model()->columnCount() - 1;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] <= sorted[j] + 1)
            ++j;
        selection.select(model()->index(sorted[i], 0), model()->index(sorted[j], last));
        i = j + 1;
    }
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

QString TListViewXPSafe::toolTipAt(const QPoint& at) const {
    const QModelIndex index = indexAt(at);
    if (!index.isValid())
        return {};
    const QString text = index.data(Qt::DisplayRole).toString();
    // The item's text margin on each side, as the style draws it.
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    const int room = visualRect(index).width() - margins;
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

bool TListViewXPSafe::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = toolTipAt(help->pos());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(indexAt(help->pos())));
    return true;
}

int TListViewXPSafe::topRow() const {
    return indexAt(QPoint(0, 0)).row();
}

void TListViewXPSafe::scrollToTopRow(int row) {
    if (row >= 0 && row < model()->rowCount())
        scrollTo(model()->index(row, 0), PositionAtTop);
}

int TListViewXPSafe::currentRow() const {
    return currentIndex().row();
}

void TListViewXPSafe::setCurrentRow(int row) {
    if (row >= 0 && row < model()->rowCount())
        selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TListViewXPSafe::setFileDropsAccepted(bool accepted) {
    fileDrops_ = accepted;
    updateDragDropMode();
}

void TListViewXPSafe::setRowsDragOut(RowPaths paths) {
    rowPaths_ = std::move(paths);
    updateDragDropMode();
}

void TListViewXPSafe::updateDragDropMode() {
    const bool drag = static_cast<bool>(rowPaths_);
    setDragDropMode(drag && fileDrops_ ? DragDrop
                    : drag             ? DragOnly
                    : fileDrops_       ? DropOnly
                                       : NoDragDrop);
    setDropIndicatorShown(false);
    viewport()->setAcceptDrops(fileDrops_);
    // The view starts a drag only from rows its model lets go.
    if (auto* report = dynamic_cast<ReportModel*>(model()))
        report->setRowsDraggable(drag);
}

std::unique_ptr<QMimeData> TListViewXPSafe::fileDragData(const std::vector<int>& rows) const {
    if (!rowPaths_)
        return nullptr;
    QList<QUrl> urls;
    for (const std::string& path : rowPaths_(rows)) {
        // Percent-encoded bytes, not text: the URL names the file even when its name is no
        // valid text.
        const QByteArray encoded = QByteArray::fromStdString(path).toPercentEncoding("/");
        urls << QUrl::fromEncoded("file://" + encoded, QUrl::StrictMode);
    }
    if (urls.isEmpty())
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

std::vector<std::string> TListViewXPSafe::localFilesOf(const QMimeData& data) {
    std::vector<std::string> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == "localhost"))
            continue;
        const QByteArray path =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!path.isEmpty())
            paths.push_back(path.toStdString());
    }
    return paths;
}

bool TListViewXPSafe::takesFiles(QDropEvent* event) const {
    if (!fileDrops_ || !(event->possibleActions() & Qt::CopyAction) ||
        localFilesOf(*event->mimeData()).empty())
        return false;
    event->setDropAction(Qt::CopyAction);
    return true;
}

void TListViewXPSafe::dragEnterEvent(QDragEnterEvent* event) {
    if (takesFiles(event))
        event->accept();
    else
        event->ignore();
}

void TListViewXPSafe::dragMoveEvent(QDragMoveEvent* event) {
    if (takesFiles(event))
        event->accept();
    else
        event->ignore();
}

void TListViewXPSafe::dropEvent(QDropEvent* event) {
    if (!takesFiles(event)) {
        event->ignore();
        return;
    }
    event->accept();
    emit filesDropped(localFilesOf(*event->mimeData()));
}

void TListViewXPSafe::startDrag(Qt::DropActions) {
    std::unique_ptr<QMimeData> data = fileDragData(selectedRows());
    if (!data)
        return;
    // Qt deletes the drag when it is over.
    auto* drag = new QDrag(this);
    drag->setMimeData(data.release());
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void TListViewXPSafe::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTreeView::closeEditor(editor, hint);
    emit editorClosed();
}

void TListViewXPSafe::requestPopupAtCurrentRow() {
    const QModelIndex current = currentIndex();
    const QRect row = current.isValid() ? visualRect(current) : QRect();
    const QPoint at =
        row.isValid() ? QPoint(row.left() + row.height() / 2, row.bottom()) : QPoint(0, 0);
    emit customContextMenuRequested(at);
}

void TListViewXPSafe::keyPressEvent(QKeyEvent* event) {
    const bool popupKey = event->key() == Qt::Key_Menu ||
                          (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (popupKey && contextMenuPolicy() == Qt::CustomContextMenu) {
        event->accept();
        requestPopupAtCurrentRow();
        return;
    }
    event->ignore();
    emit keyDown(event);
    if (!event->isAccepted())
        QTreeView::keyPressEvent(event);
}

} // namespace tonvert
