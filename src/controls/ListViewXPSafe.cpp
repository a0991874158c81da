#include "ListViewXPSafe.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>

namespace tonvert {

namespace {

// Offers no editor: the column cannot be edited in place.
class ReadOnlyColumn : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        return nullptr;
    }
};

} // namespace

TListViewXPSafe::TListViewXPSafe(QWidget* parent)
    : QTreeWidget(parent) {
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
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            emit captionEdited(item);
    });

    // The selection stays visible when the list loses the focus.
    QPalette colours = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
}

void TListViewXPSafe::setColumns(const std::vector<Column>& columns) {
    setColumnCount(static_cast<int>(columns.size()));
    QStringList captions;
    for (const auto& column : columns)
        captions << column.caption;
    setHeaderLabels(captions);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const auto& column = columns[static_cast<std::size_t>(i)];
        headerItem()->setTextAlignment(i, column.alignment | Qt::AlignVCenter);
        header()->resizeSection(i, column.width);
    }
}

Qt::Alignment TListViewXPSafe::columnAlignment(int column) const {
    return Qt::Alignment(headerItem()->textAlignment(column)) & Qt::AlignHorizontal_Mask;
}

void TListViewXPSafe::customSort(const Comparison& compare, int code) {
    // The rows leave and come back: nothing about that is a change of the selection.
    const QSignalBlocker quiet(this);
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* current = currentItem();

    QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return compare(*a, *b, code) < 0;
    });
    addTopLevelItems(rows);

    // Taking the rows out dropped their selection; the sort keeps it.
    if (current != nullptr)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* row : selected)
        row->setSelected(true);
}

void TListViewXPSafe::setCaptionsEditable(bool editable) {
    setEditTriggers(editable
                        ? QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
                        : QAbstractItemView::NoEditTriggers);
    for (int column = 1; column < columnCount(); ++column)
        setItemDelegateForColumn(column, editable ? new ReadOnlyColumn(this) : nullptr);
}

void TListViewXPSafe::keyPressEvent(QKeyEvent* event) {
    event->ignore();
    emit keyDown(event);
    if (!event->isAccepted())
        QTreeWidget::keyPressEvent(event);
}

} // namespace tonvert
