#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "aboutUnit.h"
#include "recordingSeams.h"

using namespace tonvert;

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndLink();
    void timedPopupClosesByItself();
    void untimedPopupWaitsForACharacterKey();
};

void AboutBoxTest::layoutAndLink() {
    test::RecordingShell shell;
    TaboutForm about(nullptr, "tonvert.localhost:8080", shell);
    QCOMPARE(about.windowTitle(), QStringLiteral("About Tonvert (TM)"));
    QCOMPARE(about.size(), QSize(423, 146));
    auto* image = about.findChild<QLabel*>(QStringLiteral("splashImage"));
    QVERIFY(image);
    QCOMPARE(image->pixmap().size(), QSize(417, 137));
    QCOMPARE(about.findChild<QWidget*>(QStringLiteral("bmpPanel"))->geometry(),
             QRect(2, 4, 419, 139));

    auto* link = about.findChild<QLabel*>(QStringLiteral("wwwLabel"));
    QVERIFY(link);
    QCOMPARE(link->text(), QStringLiteral("tonvert.localhost:8080"));
    QVERIFY(link->font().underline());

    // The link opens the web site and leaves the box open.
    about.show();
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(shell.openedUrls, std::vector<std::string>{"http://tonvert.localhost:8080"});
    QVERIFY(about.isVisible());
    // A click on the picture does nothing.
    QTest::mouseClick(image, Qt::LeftButton);
    QVERIFY(about.isVisible());
    QCOMPARE(shell.openedUrls.size(), std::size_t(1));
}

void AboutBoxTest::timedPopupClosesByItself() {
    test::RecordingShell shell;
    TaboutForm about(nullptr, "host", shell);
    bool closedByTest = false;
    // A guard in case the timer never fires: the test then fails instead of hanging.
    QTimer::singleShot(10000, &about, [&] {
        closedByTest = true;
        about.close();
    });
    about.popup(50);
    QVERIFY(!closedByTest);
    QVERIFY(!about.isVisible());
}

void AboutBoxTest::untimedPopupWaitsForACharacterKey() {
    test::RecordingShell shell;
    TaboutForm about(nullptr, "host", shell);
    QStringList steps;
    QTimer::singleShot(0, &about, [&] {
        QTest::keyClick(&about, Qt::Key_Shift);
        steps << (about.isVisible() ? "open after Shift" : "closed by Shift");
        QTest::keyClick(&about, Qt::Key_Left);
        steps << (about.isVisible() ? "open after Left" : "closed by Left");
        QTest::keyClick(&about, Qt::Key_Q);
        steps << (about.isVisible() ? "open after Q" : "closed by Q");
    });
    QTimer::singleShot(10000, &about, [&] {
        steps << "closed by the guard";
        about.close();
    });
    about.popup(0);
    QCOMPARE(steps, (QStringList{"open after Shift", "open after Left", "closed by Q"}));
}

QTEST_MAIN(AboutBoxTest)
#include "aboutBoxTest.moc"
