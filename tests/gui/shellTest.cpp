#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "openers.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void trashedFilesLandInTheUsersTrash();
    void copiesAndRenamesNeverOverwrite();
    void messageBoxesCopyTheirTextWithCtrlC();
    void theOpenersEndIsReported();
    void failedOpeningsAreTold();
    void boxesOpenOverTheModalDialog();
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

// The desktop's opener is looked up in PATH at each call; how it ends is reported once, with a
// reason, and a success not at all.
void ShellTest::theOpenersEndIsReported() {
    // A web address or else a file; the opener's end or none in PATH; the reason's start.
    struct Case {
        const char *target, *script, *reason;
        bool noProgram;
    };
    const Case cases[] = {
        {nullptr, "exit 3", "No program is set up on this desktop to open it.", true},
        {nullptr, "exit 4", "The program the desktop chose to open it failed.", false},
        {nullptr, "kill -KILL $$", "The desktop's opener xdg-open stopped unexpectedly.", false},
        {"http://a.localhost/", nullptr, "The desktop's opener xdg-open was not found", false},
        {"--help", "exit 0", "It is not a complete web address.", false},
        {"http://a.localhost/a%20b", "exit 0", "", false},
    };
    const QByteArray path = qgetenv("PATH");
    QtShell shell;
    for (const Case& row : cases) {
        test::TempFolder folder;
        const std::string opener = folder.file("xdg-open");
        if (row.script != nullptr) {
            // It notes its argument; the test's own later call ("stop") fails.
            test::writeBytes(opener, std::string("#!/bin/sh\n[ \"${1##*/}\" = stop ] && exit 4\n"
                                                 "echo \"$1\" >\"$0.args\"\n") +
                                         row.script);
            std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
        }
        qputenv("PATH", QByteArray::fromStdString(folder.path()));
        std::vector<OpenFailure> told;
        const auto tell = [&told](const OpenFailure& failure) { told.push_back(failure); };
        const std::string target = row.target ? row.target : folder.file("song.mid");
        row.target ? shell.openUrl(target, tell) : shell.playFile(target, tell);
        if (*row.reason != 0) {
            QTRY_COMPARE(told.size(), std::size_t(1));
            QVERIFY2(told[0].reason.starts_with(row.reason), told[0].reason.c_str());
            QCOMPARE(told[0].noProgram, row.noProgram);
            continue;
        }
        // Once this opener has ended, a failing one is waited for: by then the first one's end
        // has been handled too.
        QTRY_VERIFY(std::filesystem::exists(opener + ".args"));
        QCOMPARE(test::readBytes(opener + ".args"), target + "\n");
        bool stopped = false;
        shell.playFile("stop", [&stopped](const OpenFailure&) { stopped = true; });
        QTRY_VERIFY(stopped);
        QVERIFY(told.empty());
    }
    qputenv("PATH", path);
}

// A failed opening names what was to be opened and why; an address may be copied instead.
void ShellTest::failedOpeningsAreTold() {
    test::RecordingShell shell;
    test::RecordingPrompts prompts;
    prompts.answers = {PromptAnswer::yes, PromptAnswer::no};
    shell.openFailure = OpenFailure{false, "It failed."};
    openUrlOrSay(prompts, shell, "http://a.localhost/addfunds.html");
    openUrlOrSay(prompts, shell, "http://a.localhost/");
    playFileOrSay(prompts, shell, "/music/Song.mid");
    shell.openFailure = OpenFailure{true, "No program."};
    playFileOrSay(prompts, shell, "/music/Other.mid");

    QCOMPARE(prompts.shown.size(), std::size_t(4));
    QCOMPARE(prompts.shown[0].text,
             std::string("Tonvert could not open\n\nhttp://a.localhost/addfunds.html\n\n"
                         "It failed.\n\nCopy the address to the clipboard?"));
    QCOMPARE(prompts.shown[0].buttons, PromptButtons::yesNo);
    QCOMPARE(prompts.shown[2].text,
             std::string("Tonvert could not open \"Song.mid\".\n\nIt failed."));
    QCOMPARE(prompts.shown[3].text, std::string("No program is set up to open \"Other.mid\"."));
    QCOMPARE(shell.copiedTexts, std::vector<std::string>{"http://a.localhost/addfunds.html"});
}

// A box asked for while a modal dialog is up belongs to that dialog, and so shows above it.
void ShellTest::boxesOpenOverTheModalDialog() {
    QWidget mainWindow;
    QtPrompts prompts(&mainWindow);
    QDialog dialog(&mainWindow);
    QWidget* owner = nullptr;
    QTimer::singleShot(0, &dialog, [&] {
        QTimer::singleShot(0, [&owner] {
            QWidget* box = QApplication::activeModalWidget();
            owner = box->parentWidget();
            box->close();
        });
        prompts.show(PromptKind::information, "", "Network settings OK!", PromptButtons::ok);
        dialog.accept();
    });
    dialog.exec();
    QCOMPARE(owner, &dialog);
}

QTEST_MAIN(ShellTest)
#include "shellTest.moc"
