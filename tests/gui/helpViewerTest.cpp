#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include "hh.h"
#include "hh_funcs.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;

namespace {

QWidget* helpWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("helpViewer"))
            return widget;
    return nullptr;
}

// Pixels of exactly the test image's colour: the image is drawn only when the browser got
// it from the help file.
int imagePixels(QWidget* browser) {
    const QImage shot = browser->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += shot.pixel(x, y) == qRgb(0xC0, 0x30, 0x10);
    return count;
}

// Clicks the link whose text is `text`.
void clickLink(QTextBrowser* browser, const QString& text) {
    const QTextCursor found = browser->document()->find(text);
    QVERIFY2(!found.isNull(), qPrintable(text));
    QTextCursor middle(browser->document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    const QPoint at = browser->cursorRect(middle).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
}

QColor headingColour(QTextBrowser* browser, const QString& heading) {
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
        if (block.text() == heading)
            return block.begin().fragment().charFormat().foreground().color();
    return {};
}

} // namespace

class HelpViewerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void topicsLinksHistoryContentsAndSearch();
    void missingManualWarns();

private:
    test::TempFolder programFolder_;
    std::vector<std::string> outsideLinks_;
};

void HelpViewerTest::init() {
    initHelp(programFolder_.file("tonvert"),
             [this](const std::string& address) { outsideLinks_.push_back(address); });
}

void HelpViewerTest::topicsLinksHistoryContentsAndSearch() {
    test::RecordingPrompts prompts;
    auto hook = std::make_unique<THookHelpSystem>(TONVERT_TEST_MANUAL, "", 0, prompts);
    QVERIFY(requestHelp(kHelpContext, 1200));
    QWidget* viewer = helpWindow();
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    auto* browser = viewer->findChild<QTextBrowser*>(QStringLiteral("topicBrowser"));
    auto* contents = viewer->findChild<QTreeWidget*>(QStringLiteral("contentsTree"));
    auto* searchEdit = viewer->findChild<QLineEdit*>(QStringLiteral("searchEdit"));
    auto* results = viewer->findChild<QListWidget*>(QStringLiteral("searchResults"));
    auto* back = viewer->findChild<QToolButton*>(QStringLiteral("backButton"));
    auto* forward = viewer->findChild<QToolButton*>(QStringLiteral("forwardButton"));
    QVERIFY(browser && contents && searchEdit && results && back && forward);

    // The topic the file maps to 1200, with its stylesheet and image from the file.
    QCOMPARE(browser->source().path(), QStringLiteral("/network.htm"));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("A proxy server sits between")));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Network setup"));
    QCOMPARE(headingColour(browser, QStringLiteral("Network setup")), QColor(0x20, 0x40, 0x80));
    QTRY_VERIFY(imagePixels(browser->viewport()) >= 64);
    QCOMPARE(contents->currentItem()->text(0), QStringLiteral("Network setup"));
    QVERIFY(!back->isEnabled());

    // A link to another page, then back and forward again.
    clickLink(browser, QStringLiteral("main window"));
    QCOMPARE(browser->source().path(), QStringLiteral("/main.htm"));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("The panes list your MIDI files")));
    QVERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(browser->source().path(), QStringLiteral("/network.htm"));
    QVERIFY(forward->isEnabled());
    QTest::mouseClick(forward, Qt::LeftButton);
    QCOMPARE(browser->source().path(), QStringLiteral("/main.htm"));
    // A link into a sub-folder, whose page reaches its stylesheet through "..".
    clickLink(browser, QStringLiteral("Uploading"));
    QCOMPARE(browser->source().path(), QStringLiteral("/topics/upload.htm"));
    QCOMPARE(headingColour(browser, QStringLiteral("Uploading")), QColor(0x20, 0x40, 0x80));
    // A link out of the manual goes to the program's opener and leaves the page.
    browser->setSource(QUrl(QStringLiteral("http://tonvert.localhost/")));
    QCOMPARE(browser->source().path(), QStringLiteral("/topics/upload.htm"));
    QCOMPARE(outsideLinks_, std::vector<std::string>{"http://tonvert.localhost/"});

    // The contents as the file's sitemap nests them; an entry opens its page.
    QCOMPARE(contents->topLevelItemCount(), 2);
    QTreeWidgetItem* mainEntry = contents->topLevelItem(0);
    QCOMPARE(mainEntry->text(0), QStringLiteral("Main window"));
    QCOMPARE(mainEntry->childCount(), 1);
    QCOMPARE(mainEntry->child(0)->text(0), QStringLiteral("Uploading"));
    QCOMPARE(contents->topLevelItem(1)->text(0), QStringLiteral("Network setup"));
    const QRect entryRect = contents->visualItemRect(contents->topLevelItem(1));
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, entryRect.center());
    QCOMPARE(browser->source().path(), QStringLiteral("/network.htm"));

    // The search lists the pages that hold the words, whatever their case.
    searchEdit->setText(QStringLiteral("PROXY"));
    QTest::keyClick(searchEdit, Qt::Key_Return);
    QStringList found;
    for (int i = 0; i < results->count(); ++i)
        found << results->item(i)->text();
    found.sort();
    QCOMPARE(found, (QStringList{"Network setup", "Uploading"}));
    QListWidgetItem* uploading =
        results->findItems(QStringLiteral("Uploading"), Qt::MatchExactly)[0];
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {},
                      results->visualItemRect(uploading).center());
    QCOMPARE(browser->source().path(), QStringLiteral("/topics/upload.htm"));
    searchEdit->setText(QStringLiteral("no such words"));
    QTest::keyClick(searchEdit, Qt::Key_Return);
    QCOMPARE(results->count(), 0);

    // Another request reuses the window.
    QVERIFY(requestHelp(kHelpContext, 1100));
    QCOMPARE(helpWindow(), viewer);
    QCOMPARE(browser->source().path(), QStringLiteral("/main.htm"));

    // The hook's end closes every viewer window.
    hook.reset();
    QVERIFY(!helpWindow());
    QVERIFY(prompts.shown.empty());
    QVERIFY(!requestHelp(kHelpContext, 1100));
}

void HelpViewerTest::missingManualWarns() {
    test::RecordingPrompts prompts;
    THookHelpSystem hook(programFolder_.file("tonvert.CHM"), "", 0, prompts);
    QVERIFY(requestHelp(kHelpContext, 1100));
    QCOMPARE(prompts.shown.size(), std::size_t(1));
    QCOMPARE(prompts.shown[0].kind, PromptKind::warning);
    QCOMPARE(prompts.shown[0].buttons, PromptButtons::ok);
    QCOMPARE(prompts.shown[0].text, std::string("MS Html Help is not installed on this PC."));
    QVERIFY(!helpWindow());
}

QTEST_MAIN(HelpViewerTest)
#include "helpViewerTest.moc"
