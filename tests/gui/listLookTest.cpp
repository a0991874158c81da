// How the report lists look and answer the keyboard: the last column fills the list at any
// width, cut names show a tool tip, the popup keys open the popup, disabled glyphs look
// disabled and names sort in the user's collation.

#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include "ListViewXPSafe.h"
#include "fileRows.h"
#include "paneWidgets.h"
#include "userCollation.h"

using namespace tonvert;

namespace {

FileRow fileRow(const std::string& name, std::uint64_t size) {
    FileRow row;
    row.fileName = name + ".MID";
    row.nameSize = name.size();
    row.type = "MID";
    row.size = size;
    return row;
}

struct ListOnScreen {
    FileListModel model{{{FileColumn::name, {QStringLiteral("Name"), 80}},
                         {FileColumn::type, {QStringLiteral("Type"), 40}},
                         {FileColumn::size, {QStringLiteral("Size"), 60, Qt::AlignRight}}}};
    TListViewXPSafe list;

    explicit ListOnScreen(int rows) {
        std::vector<FileRow> files;
        for (int i = 0; i < rows; ++i)
            files.push_back(fileRow("Piece " + std::to_string(i), 1000u + unsigned(i)));
        files.push_back(fileRow("A very long name that no narrow column shows whole", 7));
        model.setRows(std::move(files));
        list.setReportModel(&model);
        list.setContextMenuPolicy(Qt::CustomContextMenu);
        list.show();
    }
    int lastColumnRight() const {
        const QHeaderView* header = list.header();
        const int last = header->count() - 1;
        return header->sectionViewportPosition(last) + header->sectionSize(last);
    }
};

// The summed alpha of an icon's pixmap in a mode: how much of it shows.
qint64 coverage(const QIcon& icon, QIcon::Mode mode) {
    const QImage image = icon.pixmap(22, 22, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    qint64 sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}

} // namespace

class ListLookTest : public QObject {
    Q_OBJECT
private slots:
    void lastColumnFillsTheRoomLeft();
    void cutNamesShowTheirWholeText();
    void popupKeysOpenThePopup();
    void disabledGlyphsLookDisabled();
    void namesSortInTheUsersCollation();
    void filesTravelAsUrlsThatKeepTheirBytes();
};

void ListLookTest::lastColumnFillsTheRoomLeft() {
    // Enough rows for a vertical scroll bar: the right-aligned sizes end at its edge.
    ListOnScreen screen(200);
    for (const int width : {220, 300, 640}) {
        screen.list.resize(width, 150);
        QTRY_VERIFY(screen.list.verticalScrollBar()->isVisible());
        QTRY_COMPARE(screen.lastColumnRight(), screen.list.viewport()->width());
        QVERIFY(screen.list.viewport()->width() < width);
    }
    // A short list has no scroll bar, and the last column reaches the list's own edge.
    ListOnScreen shortList(2);
    shortList.list.resize(400, 300);
    QTRY_COMPARE(shortList.lastColumnRight(), shortList.list.viewport()->width());
    QVERIFY(!shortList.list.verticalScrollBar()->isVisible());
}

void ListLookTest::cutNamesShowTheirWholeText() {
    ListOnScreen screen(1);
    screen.list.resize(400, 150);
    const QModelIndex shortName = screen.model.index(0, 0);
    const QModelIndex longName = screen.model.index(1, 0);
    const QPoint onShort = screen.list.visualRect(shortName).center();
    const QPoint onLong = screen.list.visualRect(longName).center();
    QCOMPARE(screen.list.toolTipAt(onLong),
             QStringLiteral("A very long name that no narrow column shows whole"));
    QCOMPARE(screen.list.toolTipAt(onShort), QString());

    // Once the column is wide enough, the long name needs no tip either.
    screen.list.header()->resizeSection(0, 390);
    QCOMPARE(screen.list.toolTipAt(screen.list.visualRect(longName).center()), QString());
    QCOMPARE(screen.list.toolTipAt(QPoint(5, 140)), QString()); // below the rows
}

void ListLookTest::popupKeysOpenThePopup() {
    ListOnScreen screen(5);
    screen.list.resize(300, 200);
    QSignalSpy popups(&screen.list, &QWidget::customContextMenuRequested);

    // Without a current row the popup opens at the top of the list.
    QTest::keyClick(&screen.list, Qt::Key_Menu);
    QCOMPARE(popups.size(), 1);
    QCOMPARE(popups.takeFirst().at(0).toPoint(), QPoint(0, 0));

    // With one, Shift+F10 opens it on that row.
    screen.list.selectRow(3);
    QTest::keyClick(&screen.list, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(popups.size(), 1);
    const QPoint at = popups.takeFirst().at(0).toPoint();
    QCOMPARE(screen.list.indexAt(at - QPoint(0, 1)).row(), 3);

    // F10 alone is not the popup key, nor is Shift+F10 when the list has no popup.
    QTest::keyClick(&screen.list, Qt::Key_F10);
    QCOMPARE(popups.size(), 0);
    screen.list.setContextMenuPolicy(Qt::DefaultContextMenu);
    QTest::keyClick(&screen.list, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(popups.size(), 0);
}

void ListLookTest::disabledGlyphsLookDisabled() {
    QWidget parent;
    QToolButton* trash =
        makeToolButton(&parent, QStringLiteral("trash"), QStyle::SP_TrashIcon, "Delete", false);
    const QIcon icon = trash->icon();
    const qint64 normal = coverage(icon, QIcon::Normal);
    QVERIFY(normal > 0);
    // The grey trash glyph would look the same greyed: the disabled one is faded as well.
    QVERIFY2(
        coverage(icon, QIcon::Disabled) * 2 < normal,
        qPrintable(QStringLiteral("%1 of %2").arg(coverage(icon, QIcon::Disabled)).arg(normal)));
}

void ListLookTest::namesSortInTheUsersCollation() {
    const QString etude = QStringLiteral("\u00C9tude");
    const QString zebra = QStringLiteral("Zebra");
    // The C and POSIX locales have no language: the Unicode default order, not code points.
    QVERIFY(userCollator(QLocale::c()).compare(etude, zebra) < 0);
    QVERIFY(userCollator(QLocale::c()).compare(QStringLiteral("apple"), QStringLiteral("Banana")) <
            0);
    // A language's own order holds: Swedish puts Ö after Z, German beside O.
    const QString oeland = QStringLiteral("\u00D6land");
    QVERIFY(userCollator(QLocale(QLocale::Swedish, QLocale::Sweden)).compare(oeland, zebra) > 0);
    QVERIFY(userCollator(QLocale(QLocale::German, QLocale::Germany)).compare(oeland, zebra) < 0);
}

// Rows drag out as file URLs once asked to; only a list that takes files takes a drop, and
// only of local files. Names that are no valid text keep their bytes both ways.
void ListLookTest::filesTravelAsUrlsThatKeepTheirBytes() {
    ListOnScreen screen(2);
    TListViewXPSafe& list = screen.list;
    QVERIFY(!list.fileDragData({0}));
    const std::vector<std::string> paths{"/music/Piece 0.MID", "/music/caf\xE9 50%.MID"};
    list.setRowsDragOut([&](const std::vector<int>& rows) {
        std::vector<std::string> out;
        for (const int row : rows)
            out.push_back(paths.at(static_cast<std::size_t>(row)));
        return out;
    });
    QVERIFY(screen.model.flags(screen.model.index(1, 0)) & Qt::ItemIsDragEnabled);
    const std::unique_ptr<QMimeData> dragged = list.fileDragData({0, 1});
    QCOMPARE(dragged->urls().at(0), QUrl::fromLocalFile(QStringLiteral("/music/Piece 0.MID")));
    QCOMPARE(TListViewXPSafe::localFilesOf(*dragged), paths);

    std::vector<std::vector<std::string>> dropped;
    QObject::connect(&list, &TListViewXPSafe::filesDropped,
                     [&](const std::vector<std::string>& files) { dropped.push_back(files); });
    struct Case {
        bool takesFiles;
        QList<QUrl> urls;
        bool accepted;
    };
    const QUrl file = QUrl::fromEncoded("file:///in/caf%E9.mid");
    for (const Case& c :
         std::vector<Case>{{false, {file}, false},
                           {true, {QUrl("https://example.org/a.mid")}, false},
                           {true, {QUrl("https://example.org/a.mid"), file}, true}}) {
        list.setFileDropsAccepted(c.takesFiles);
        QMimeData data;
        data.setUrls(c.urls);
        // As a drag arrives: a drop goes where the drag was taken in.
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &drop);
        QCOMPARE(enter.isAccepted() && drop.isAccepted(), c.accepted);
    }
    QCOMPARE(dropped, std::vector<std::vector<std::string>>{{"/in/caf\xE9.mid"}});
}

QTEST_MAIN(ListLookTest)
#include "listLookTest.moc"
