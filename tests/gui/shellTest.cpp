#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "qtPrompts.h"
#include "qtShell.h"
#include "testFiles.h"

using namespace tonvert;

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void trashedFilesLandInTheUsersTrash();
    void copiesAndRenamesNeverOverwrite();
    void messageBoxesCopyTheirTextWithCtrlC();
};

void ShellTest::trashedFilesLandInTheUsersTrash() {
    test::TempFolder folder;
    // A user whose data folder does not exist yet.
    const std::string home = folder.file("home");
    std::filesystem::create_directories(home);
    qputenv("HOME", QByteArray::fromStdString(home));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home + "/.local/share"));
    const std::string work = folder.file("work");
    std::filesystem::create_directories(work);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(work));

    test::writeBytes(folder.file("Song.mid"), "first");
    test::writeBytes(folder.file("Other.mid"), "second");
    QtShell shell;
    const auto undone = shell.trashFiles({folder.file("Song.mid"), folder.file("Other.mid")});
    QDir::setCurrent(previous);

    QVERIFY(undone.empty());
    QVERIFY(!std::filesystem::exists(folder.file("Song.mid")));
    const std::string trash = home + "/.local/share/Trash/";
    QCOMPARE(test::readBytes(trash + "files/Song.mid"), std::string("first"));
    QCOMPARE(test::readBytes(trash + "files/Other.mid"), std::string("second"));
    QVERIFY(std::filesystem::exists(trash + "info/Song.mid.trashinfo"));
    QVERIFY(!std::filesystem::exists(work + "/files"));

    test::writeBytes(folder.file("Third.mid"), "third");
    QCOMPARE(shell.trashFiles({folder.file("missing.mid"), folder.file("Third.mid")}),
             std::vector<std::string>{folder.file("missing.mid")});
}

void ShellTest::copiesAndRenamesNeverOverwrite() {
    test::TempFolder folder;
    QtShell shell;
    const std::string song = folder.file("Song.mid");
    test::writeBytes(song, "song");
    QVERIFY(shell.copyFiles({song, song}, {song, song}).empty());
    QCOMPARE(test::readBytes(folder.file("Song (2).mid")), std::string("song"));
    QCOMPARE(test::readBytes(folder.file("Song (3).mid")), std::string("song"));
    QCOMPARE(shell.copyFiles({folder.file("missing.mid")}, {folder.file("copy.mid")}),
             std::vector<std::string>{folder.file("missing.mid")});

    std::string finalPath;
    QVERIFY(shell.renameFile(folder.file("Song (3).mid"), song, finalPath));
    QCOMPARE(finalPath, folder.file("Song (3).mid")); // every other name was taken
    QVERIFY(shell.renameFile(folder.file("Song (3).mid"), folder.file("New.mid"), finalPath));
    QCOMPARE(finalPath, folder.file("New.mid"));
    QCOMPARE(test::readBytes(song), std::string("song"));
    QVERIFY(shell.renameFile(song, song, finalPath));
    QCOMPARE(finalPath, song);
    QVERIFY(!shell.renameFile(folder.file("missing.mid"), folder.file("x.mid"), finalPath));
}

void ShellTest::messageBoxesCopyTheirTextWithCtrlC() {
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QString copied;
    QTimer::singleShot(0, [&copied] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
        // The copy leaves the box open: Escape answers it as its safest button.
        QVERIFY(box->isVisible());
        QTest::keyClick(box, Qt::Key_Escape);
    });
    QtPrompts prompts;
    QCOMPARE(prompts.show(PromptKind::confirmation, "", "Delete 2 files?", PromptButtons::yesNo),
             PromptAnswer::no);
    QCOMPARE(copied, QStringLiteral("Confirm\n\nDelete 2 files?\n"));
}

QTEST_MAIN(ShellTest)
#include "shellTest.moc"
