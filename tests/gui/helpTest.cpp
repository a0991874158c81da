// F1 on the main window and on the network setup dialog, and the Manual command, open the
// built manual on their topics.

#include <QAbstractButton>
#include <QApplication>
#include <QTextBrowser>
#include <QtTest>
#include <algorithm>
#include <filesystem>

#include "credentials.h"
#include "hh.h"
#include "mainUnit.h"
#include "modalDriver.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;

namespace {

QTextBrowser* shownTopic() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("helpViewer") && widget->isVisible())
            return widget->findChild<QTextBrowser*>(QStringLiteral("topicBrowser"));
    return nullptr;
}

QString topicPath() {
    QTextBrowser* browser = shownTopic();
    return browser == nullptr ? QString() : browser->source().path();
}

} // namespace

class HelpTest : public QObject {
    Q_OBJECT
private slots:
    void helpKeysOpenTheirTopics();
};

void HelpTest::helpKeysOpenTheirTopics() {
    test::TempFolder folder;
    std::filesystem::copy_file(TONVERT_MANUAL, folder.file("tonvert.CHM"));
    {
        TPortableIniFile ini(folder.file("tonvert.INI"));
        writeCredentials(ini, {"help@example.org", "secret"});
    }
    initHelp(folder.file("tonvert"), {});
    test::TestSeams seams;
    test::AboutBoxCloser closer;
    auto form = std::make_unique<TmainForm>(folder.file("tonvert"), seams.seams());
    form->show();
    QTRY_VERIFY(form->startupDone());

    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F1);
    QTRY_COMPARE(topicPath(), QStringLiteral("/mainwindow.htm"));

    // In the network setup dialog F1 and its Help button ask for the dialog's topic.
    test::ModalDriver driver;
    driver.on("internetSetupForm", [&](QWidget& setup) {
        QVERIFY(shownTopic() != nullptr);
        shownTopic()->setSource(QUrl(QStringLiteral("index.htm")));
        // F1 reaches the dialog from whichever of its controls has the focus.
        QTest::keyClick(setup.findChild<QWidget*>(QStringLiteral("serverEdit")), Qt::Key_F1);
        QTRY_COMPARE(topicPath(), QStringLiteral("/network.htm"));
        // A window of the dialog, the only kind the modal dialog leaves usable.
        QCOMPARE(shownTopic()->window()->parentWidget(), &setup);
        shownTopic()->setSource(QUrl(QStringLiteral("index.htm")));
        setup.findChild<QAbstractButton*>(QStringLiteral("helpBtn"))->click();
        QTRY_COMPARE(topicPath(), QStringLiteral("/network.htm"));
        setup.close();
    });
    form->menuSetupNetworkClick();
    QCOMPARE(driver.seen, QStringList{"internetSetupForm"});
    // The dialog's end leaves the manual open, a window of its own again.
    QVERIFY(shownTopic() != nullptr);
    QVERIFY(shownTopic()->window()->parentWidget() == nullptr);

    form->menuHelpManualClick();
    QCOMPARE(topicPath(), QStringLiteral("/mainwindow.htm"));
    QVERIFY(seams.prompts.shown.empty());

    // The window's end closes the manual with it.
    form.reset();
    QTRY_VERIFY(shownTopic() == nullptr);
    const auto topLevels = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(topLevels.begin(), topLevels.end(), [](QWidget* widget) {
        return widget->objectName() == QLatin1String("helpViewer") && widget->isVisible();
    }));
    finishHelp();
}

QTEST_MAIN(HelpTest)
#include "helpTest.moc"
