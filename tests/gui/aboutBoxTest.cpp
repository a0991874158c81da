#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <algorithm>

#include "aboutUnit.h"
#include "applicationIcon.h"
#include "recordingSeams.h"

using namespace tonvert;

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndLink();
    void timedPopupClosesByItself();
    void untimedPopupWaitsForACharacterKey();
    void everyWindowShowsTheProgramIcon();
};

void AboutBoxTest::layoutAndLink() {
    test::RecordingShell shell;
    test::RecordingPrompts prompts;
    TaboutForm about(nullptr, "tonvert.localhost:8080", shell, prompts);
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
    auto* version = about.findChild<QLabel*>(QStringLiteral("versionLabel"));
    QVERIFY(version);
    QCOMPARE(version->text(),
             QStringLiteral("Version ") + QString::fromStdString(programVersion()));

    // The link opens the web site and leaves the box open.
    about.show();
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(shell.openedUrls, std::vector<std::string>{"http://tonvert.localhost:8080"});
    QVERIFY(about.isVisible());
    // A click on the picture does nothing.
    QTest::mouseClick(image, Qt::LeftButton);
    QVERIFY(about.isVisible());
    QCOMPARE(shell.openedUrls.size(), std::size_t(1));
    // A link the browser cannot open is told.
    shell.openFailure = OpenFailure{false, "No browser."};
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(prompts.shown.size(), std::size_t(1));
}

void AboutBoxTest::timedPopupClosesByItself() {
    test::RecordingShell shell;
    test::RecordingPrompts prompts;
    TaboutForm about(nullptr, "host", shell, prompts);
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
    test::RecordingPrompts prompts;
    TaboutForm about(nullptr, "host", shell, prompts);
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

namespace {

QList<int> sides(const QList<QSize>& sizes) {
    QList<int> result;
    for (const QSize& size : sizes) {
        if (size.width() != size.height())
            return {};
        result << size.width();
    }
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace

// As main() sets it: the icon comes in every rendered size, each really drawn, and the about
// box and a message box show it without setting one of their own.
void AboutBoxTest::everyWindowShowsTheProgramIcon() {
    setApplicationIcon();
    const QIcon icon = QApplication::windowIcon();
    QVERIFY(!icon.isNull());
    const QList<int> expected{16, 32, 48, 64, 128, 256};
    QCOMPARE(sides(icon.availableSizes()), expected);
    for (const int side : expected) {
        const QImage image = icon.pixmap(side, side).toImage();
        QCOMPARE(image.size(), QSize(side, side));
        // A rounded square: clear in its corners, opaque in its middle, and more than one
        // colour inside (the background and the note).
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(side / 2, side / 2)), 255);
        QSet<QRgb> colours;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                if (qAlpha(image.pixel(x, y)) == 255)
                    colours << image.pixel(x, y);
        QVERIFY2(colours.size() >= 3, qPrintable(QString::number(side)));
    }

    test::RecordingShell shell;
    test::RecordingPrompts prompts;
    TaboutForm about(nullptr, "host", shell, prompts);
    QCOMPARE(about.windowIcon().cacheKey(), icon.cacheKey());
    QMessageBox box(QMessageBox::Information, QStringLiteral("Tonvert"), QStringLiteral("text"));
    QCOMPARE(box.windowIcon().cacheKey(), icon.cacheKey());
}

QTEST_MAIN(AboutBoxTest)
#include "aboutBoxTest.moc"
