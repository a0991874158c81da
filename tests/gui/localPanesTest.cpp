#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "ListViewXPSafe.h"
#include "credentials.h"
#include "folderWatch.h"
#include "localPane.h"
#include "mainUnit.h"
#include "midiBytes.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;

namespace {

// A MIDI file whose one note ends after `ticks` at 480 ticks per quarter (0.5 s each).
std::string midiLasting(std::uint32_t ticks) {
    using namespace test;
    const std::string events = bytes({0x00, 0x90, 0x3C, 0x64}) + varLen(ticks) +
                               bytes({0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    return header(0, 1, 480) + trackChunk(events);
}

struct Panes {
    test::TempFolder folder;
    std::string midi = folder.file("MIDI/");
    std::string audio = folder.file("Audio/");
    test::TestSeams seams;
    test::RecordingShell& shell = seams.shell;
    test::RecordingPrompts& prompts = seams.prompts;
    std::unique_ptr<TmainForm> form;
    test::AboutBoxCloser closer;

    Panes() {
        std::filesystem::create_directories(midi);
        std::filesystem::create_directories(audio);
        std::filesystem::create_directories(midi + "x.mid");
        test::writeBytes(midi + "Song.mid", midiLasting(57216));    // 59.6 s
        test::writeBytes(midi + "a.MID", midiLasting(114624));      // 119.4 s
        test::writeBytes(midi + "a.RMI", midiLasting(6720) + "xx"); // 7 s
        test::writeBytes(midi + ".hidden.mid", midiLasting(960));
        test::writeBytes(midi + "bad.MID", "MThd but not really a MIDI file");
        test::writeBytes(midi + "Track.midi", midiLasting(480));
        test::writeBytes(midi + "notes.txt", "not listed");
        test::writeBytes(audio + "one.wav", "");
        test::writeBytes(audio + "Two.MP3", std::string(999, 'x'));
        test::writeBytes(audio + "three.ogg", std::string(1000, 'x'));
        test::writeBytes(audio + "four.wma", std::string(1234567, 'x'));
        test::writeBytes(audio + "five.flac", "not listed");
    }

    // Shows the window; its first activation fills the panes.
    void start(const std::string& user = "", const std::string& password = "") {
        {
            // Stored credentials keep the start-up from running an account command.
            TPortableIniFile ini(folder.file("tonvert.INI"));
            writeCredentials(ini, {"someone@example.org", "secret"});
        }
        form = std::make_unique<TmainForm>(folder.file("tonvert"), seams.seams());
        form->show();
        QTRY_VERIFY(form->startupDone());
        QCOMPARE(closer.closed, 1);
        form->state.userID = user;
        form->state.password = password;
    }
    TListViewXPSafe& list(const char* name) {
        return *form->findChild<TListViewXPSafe*>(QString::fromLatin1(name));
    }
    TListViewXPSafe& midiList() { return list("localMidiListView"); }
    TListViewXPSafe& audioList() { return list("localAudioListView"); }
    bool enabled(const char* name) {
        return form->findChild<QAbstractButton*>(QString::fromLatin1(name))->isEnabled();
    }
    void select(TListViewXPSafe& list, const QStringList& names);
};

int rowCountOf(const TListViewXPSafe& list) {
    return list.model()->rowCount();
}

QString cell(const TListViewXPSafe& list, int row, int column) {
    return list.model()->index(row, column).data().toString();
}

void Panes::select(TListViewXPSafe& list, const QStringList& names) {
    list.clearSelection();
    std::vector<int> rows;
    for (int i = 0; i < rowCountOf(list); ++i)
        if (names.contains(cell(list, i, 0) + "." + cell(list, i, 1)))
            rows.push_back(i);
    list.selectRows(rows);
}

// Every row as "name|type|...": the texts of all columns.
QStringList rows(const TListViewXPSafe& list) {
    QStringList out;
    for (int i = 0; i < rowCountOf(list); ++i) {
        QStringList cells;
        for (int c = 0; c < list.model()->columnCount(); ++c)
            cells << cell(list, i, c);
        out << cells.join('|');
    }
    return out;
}

QStringList selectedNames(const TListViewXPSafe& list) {
    QStringList out;
    for (const int row : list.selectedRows())
        out << cell(list, row, 0) + "." + cell(list, row, 1);
    return out;
}

} // namespace

class LocalPanesTest : public QObject {
    Q_OBJECT
private slots:
    void listsFilesWithPlayTimesAndSizes();
    void headerClicksCycleTheSort();
    void refreshKeepsTheSelectionByNameAndType();
    void selectionEnablesButtonsAndPopups();
    void renameKeepsTheTypeAndShowsTheRealName();
    void namesThatAreNotTextKeepTheirBytes();
    void keysDeleteAndRefresh();
    void playCopyAndMissingFolder();
    void failedOperationsAreTold();
    void changesByOtherProgramsShowByThemselves();
    void filesDropInAndDragOut();
    void uploadTipTellsWhyItIsDisabled();
};

void LocalPanesTest::listsFilesWithPlayTimesAndSizes() {
    Panes panes;
    panes.start();
    // A fresh pane sorts by size, smallest first.
    const QStringList midi = rows(panes.midiList());
    QCOMPARE(midi.size(), 5);
    QVERIFY(midi.contains(QStringLiteral("Song|MID|01:00|36")));
    QVERIFY(midi.contains(QStringLiteral("a|MID|01:59|36")));
    QCOMPARE(midi.first(), QStringLiteral("bad|MID|?|31"));
    QCOMPARE(midi.at(1), QStringLiteral(".hidden|MID|00:01|35"));
    QCOMPARE(midi.last(), QStringLiteral("a|RMI|00:07|37"));

    QCOMPARE(rows(panes.audioList()),
             (QStringList{"one|WAV|0", "Two|MP3|999", "three|OGG|1 000", "four|WMA|1 234 567"}));
    const QModelIndex big = panes.audioList().model()->index(3, 2);
    QCOMPARE(Qt::Alignment(big.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
             Qt::AlignRight);

    // The rows carry their numbers; the texts are only for display.
    QCOMPARE(big.data(kSizeRole).toLongLong(), 1234567);
    const QModelIndex song = panes.midiList().model()->index(midi.indexOf("Song|MID|01:00|36"), 0);
    QCOMPARE(song.data(kPlayTimeRole).toDouble(), 59.6);
    QCOMPARE(song.data(kFileNameRole).toByteArray(), QByteArray("Song.mid"));
    QVERIFY(!panes.midiList().model()->index(0, 0).data(kPlayTimeRole).isValid()); // bad.MID
}

void LocalPanesTest::headerClicksCycleTheSort() {
    Panes panes;
    panes.start();
    TListViewXPSafe& list = panes.audioList();
    const auto names = [&] {
        QStringList out;
        for (int i = 0; i < rowCountOf(list); ++i)
            out << cell(list, i, 0);
        return out;
    };
    emit list.columnClicked(2);
    QCOMPARE(list.tag, 3);
    QCOMPARE(names(), (QStringList{"one", "Two", "three", "four"}));
    emit list.columnClicked(2);
    QCOMPARE(list.tag, -3);
    QCOMPARE(names(), (QStringList{"four", "three", "Two", "one"}));
    emit list.columnClicked(2);
    QCOMPARE(list.tag, 3);
    // Names sort without regard to case.
    emit list.columnClicked(0);
    QCOMPARE(list.tag, 1);
    QCOMPARE(names(), (QStringList{"four", "one", "three", "Two"}));
    emit list.columnClicked(0);
    QCOMPARE(names(), (QStringList{"Two", "three", "one", "four"}));

    // The MIDI pane's play-time column, and a refill keeps the order.
    TListViewXPSafe& midi = panes.midiList();
    emit midi.columnClicked(2);
    QCOMPARE(midi.tag, 3);
    QCOMPARE(cell(midi, 0, 2), QStringLiteral("00:01"));
    QCOMPARE(cell(midi, 4, 2), QStringLiteral("?"));
    panes.form->fillLocalMidiList(true);
    QCOMPARE(cell(midi, 0, 2), QStringLiteral("00:01"));
    emit midi.columnClicked(3);
    emit midi.columnClicked(3);
    QCOMPARE(midi.tag, -4);
    QCOMPARE(cell(midi, 0, 0) + cell(midi, 0, 1), QStringLiteral("aRMI"));
}

void LocalPanesTest::refreshKeepsTheSelectionByNameAndType() {
    Panes panes;
    panes.start();
    TListViewXPSafe& list = panes.midiList();
    panes.select(list, {"a.MID", "a.RMI"});
    panes.form->fillLocalMidiList(true);
    QCOMPARE(selectedNames(list), (QStringList{"a.MID", "a.RMI"}));

    panes.select(list, {"a.RMI"});
    panes.form->fillLocalMidiList(true);
    QCOMPARE(selectedNames(list), QStringList{"a.RMI"});

    panes.form->fillLocalMidiList(false);
    QCOMPARE(selectedNames(list), QStringList{});
}

void LocalPanesTest::selectionEnablesButtonsAndPopups() {
    Panes panes;
    panes.start("user@example.org", "secret");
    TListViewXPSafe& midi = panes.midiList();
    QVERIFY(!panes.enabled("localMidiPlayBtn"));
    QVERIFY(!panes.enabled("localMidiDeleteBtn"));
    QVERIFY(!panes.enabled("midiUploadBtn"));

    panes.select(midi, {"bad.MID"});
    QVERIFY(panes.enabled("localMidiPlayBtn"));
    QVERIFY(panes.enabled("localMidiDeleteBtn"));
    QVERIFY2(!panes.enabled("midiUploadBtn"), "no play time, nothing to upload");

    panes.select(midi, {"bad.MID", "Song.MID"});
    QVERIFY(panes.enabled("midiUploadBtn"));

    auto* popup = panes.form->findChild<QMenu*>(QStringLiteral("localMidiListPopupMenu"));
    const auto item = [&](const char* name) {
        return panes.form->findChild<QAction*>(QString::fromLatin1(name))->isEnabled();
    };
    emit popup->aboutToShow();
    QVERIFY(item("localMidiListPopupMenuPlay") && item("localMidiListPopupMenuUpload") &&
            item("localMidiListPopupMenuCopy") && item("localMidiListPopupMenuDelete"));
    midi.clearSelection();
    emit popup->aboutToShow();
    QVERIFY(!item("localMidiListPopupMenuPlay") && !item("localMidiListPopupMenuUpload") &&
            !item("localMidiListPopupMenuCopy") && !item("localMidiListPopupMenuDelete"));
    QVERIFY(item("localMidiListPopupMenuRefresh") && item("localMidiListPopupMenuFolder"));

    // Without a password nothing can be uploaded, whatever is selected.
    panes.form->state.password.clear();
    panes.select(midi, {"Song.MID"});
    QVERIFY(!panes.enabled("midiUploadBtn"));

    TListViewXPSafe& audio = panes.audioList();
    QVERIFY(!panes.enabled("localAudioPlayBtn") && !panes.enabled("localAudioDeleteBtn"));
    panes.select(audio, {"three.OGG"});
    QVERIFY(panes.enabled("localAudioPlayBtn") && panes.enabled("localAudioDeleteBtn"));
    auto* audioPopup = panes.form->findChild<QMenu*>(QStringLiteral("localAudioListPopupMenu"));
    emit audioPopup->aboutToShow();
    QVERIFY(item("localAudioListPopupMenuCopy"));
}

void LocalPanesTest::renameKeepsTheTypeAndShowsTheRealName() {
    Panes panes;
    panes.start();
    TListViewXPSafe& audio = panes.audioList();
    QAbstractItemModel& model = *audio.model();
    const QModelIndex one = model.index(0, 0);
    QCOMPARE(one.data().toString(), QStringLiteral("one"));
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));

    // Through the editor, as the user does it: the typed extension gives way to the file's.
    audio.edit(one);
    auto* editor = audio.findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("new.txt"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(std::filesystem::exists(panes.audio + "new.wav"));
    QVERIFY(!std::filesystem::exists(panes.audio + "one.wav"));
    QCOMPARE(one.data().toString(), QStringLiteral("new"));
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("WAV"));

    // A taken name: the file gets a fresh one, and the row shows it.
    test::writeBytes(panes.audio + "three.wav", "taken");
    model.setData(one, QStringLiteral("three"));
    QCOMPARE(panes.shell.renamed.back(),
             std::make_pair(panes.audio + "new.wav", panes.audio + "three.wav"));
    QCOMPARE(one.data().toString(), QStringLiteral("three (2)"));
    QVERIFY(std::filesystem::exists(panes.audio + "three (2).wav"));
    QCOMPARE(test::readBytes(panes.audio + "three.wav"), std::string("taken"));

    // A refused rename, or a name that is no name, leaves the row as it was.
    panes.shell.refuse = true;
    model.setData(one, QStringLiteral("other"));
    QCOMPARE(one.data().toString(), QStringLiteral("three (2)"));
    panes.shell.refuse = false;
    const std::size_t asked = panes.shell.renamed.size();
    model.setData(one, QStringLiteral("../escape"));
    model.setData(one, QString());
    QCOMPARE(panes.shell.renamed.size(), asked);
    QCOMPARE(one.data().toString(), QStringLiteral("three (2)"));

    // The renamed row still leads to its file.
    panes.select(audio, {"three (2).WAV"});
    panes.form->playLocalAudioFile();
    QCOMPARE(panes.shell.played.back(), panes.audio + "three (2).wav");
}

// A file name that is not valid text keeps its bytes from the listing to the shell; a
// stored folder without its separator still lists its files.
void LocalPanesTest::namesThatAreNotTextKeepTheirBytes() {
    Panes panes;
    const std::string odd = "caf\xE9 \xFF.mid";
    test::writeBytes(panes.midi + odd, midiLasting(960));
    {
        TPortableIniFile ini(panes.folder.file("tonvert.INI"));
        ini.writeString("Directories", "Midi", panes.midi.substr(0, panes.midi.size() - 1));
    }
    panes.start();
    TListViewXPSafe& midi = panes.midiList();
    QCOMPARE(rowCountOf(midi), 6);
    int row = -1;
    for (int i = 0; i < rowCountOf(midi); ++i)
        if (midi.model()->index(i, 0).data(kFileNameRole).toByteArray() == QByteArray(odd.c_str()))
            row = i;
    QVERIFY(row >= 0);
    QCOMPARE(cell(midi, row, 2), QStringLiteral("00:01"));

    midi.clearSelection();
    midi.selectRow(row);
    panes.form->playLocalMidiFile();
    QCOMPARE(panes.shell.played.back(), panes.midi + odd);
    panes.form->copyLocalMidiFiles();
    QVERIFY(std::filesystem::exists(panes.midi + "caf\xE9 \xFF (2).mid"));
    QCOMPARE(selectedNames(midi).size(), 1); // the kept selection found the odd name again

    panes.prompts.answers = {PromptAnswer::yes};
    panes.form->deleteLocalMidiFiles();
    QCOMPARE(panes.shell.trashed, std::vector<std::string>{panes.midi + odd});
    QVERIFY(!std::filesystem::exists(panes.midi + odd));
}

void LocalPanesTest::keysDeleteAndRefresh() {
    Panes panes;
    panes.start();
    TListViewXPSafe& midi = panes.midiList();

    test::writeBytes(panes.midi + "Later.mid", midiLasting(960));
    QTest::keyClick(&midi, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(midi.model()->rowCount(), 6);
    test::writeBytes(panes.midi + "Latest.mid", midiLasting(960));
    QTest::keyClick(&midi, Qt::Key_R);
    QCOMPARE(midi.model()->rowCount(), 6); // R alone does not refresh

    panes.select(midi, {"Song.MID", "a.RMI"});
    panes.prompts.answers = {PromptAnswer::no};
    QTest::keyClick(&midi, Qt::Key_Delete, Qt::ShiftModifier);
    QVERIFY(panes.shell.trashed.empty());
    QCOMPARE(panes.prompts.shown.back().text, std::string("Move these 2 files to the trash?"));
    QCOMPARE(panes.prompts.shown.back().buttons, PromptButtons::yesNo);

    panes.prompts.answers = {PromptAnswer::yes};
    QTest::keyClick(&midi, Qt::Key_Delete);
    QCOMPARE(panes.shell.trashed,
             (std::vector<std::string>{panes.midi + "Song.mid", panes.midi + "a.RMI"}));
    QCOMPARE(midi.model()->rowCount(), 5); // refilled: two gone, Latest.mid came
}

void LocalPanesTest::playCopyAndMissingFolder() {
    Panes panes;
    panes.start();
    TListViewXPSafe& midi = panes.midiList();
    emit midi.columnClicked(0); // by name: .hidden, a, a, bad, Song
    panes.select(midi, {"Song.MID", "a.RMI"});
    panes.form->playLocalMidiFile();
    QCOMPARE(panes.shell.played, std::vector<std::string>{panes.midi + "a.RMI"});

    panes.select(midi, {"Song.MID"});
    panes.form->findChild<QAction*>(QStringLiteral("localMidiListPopupMenuCopy"))->trigger();
    QVERIFY(std::filesystem::exists(panes.midi + "Song (2).mid"));
    QCOMPARE(selectedNames(midi), QStringList{"Song.MID"});
    QCOMPARE(midi.model()->rowCount(), 6);

    // A click on a row of a list scrolled sideways keeps the list where it is.
    midi.resize(120, 200);
    midi.horizontalScrollBar()->setValue(midi.horizontalScrollBar()->maximum());
    const int sideways = midi.horizontalScrollBar()->value();
    QVERIFY(sideways > 0);
    midi.scrollTo(midi.model()->index(4, 0));
    QCOMPARE(midi.horizontalScrollBar()->value(), sideways);

    panes.form->state.midiFolder = panes.folder.file("missing/");
    panes.form->fillLocalMidiList(true);
    QCOMPARE(midi.model()->rowCount(), 0);
    QVERIFY(!panes.enabled("localMidiPlayBtn"));
}

// What the desktop refuses is told, naming the files; nothing is silent.
void LocalPanesTest::failedOperationsAreTold() {
    Panes panes;
    panes.start();
    TListViewXPSafe& audio = panes.audioList();
    panes.shell.refuse = true;
    const auto lastText = [&] { return panes.prompts.shown.back().text; };

    panes.select(audio, {"Two.MP3", "three.OGG"});
    panes.prompts.answers = {PromptAnswer::yes};
    panes.form->deleteLocalAudioFiles();
    QCOMPARE(lastText(), std::string("These files could not be moved to the trash:\n\nTwo.MP3\n"
                                     "three.ogg"));
    panes.select(audio, {"Two.MP3"});
    panes.form->copyLocalAudioFiles();
    QCOMPARE(lastText(), std::string("These files could not be copied:\n\nTwo.MP3"));
    panes.form->playLocalAudioFile();
    QCOMPARE(lastText(), std::string("No program is set up to open \"Two.MP3\"."));

    QAbstractItemModel& model = *audio.model();
    model.setData(model.index(0, 0), QStringLiteral("renamed"));
    QCOMPARE(lastText(), std::string("\"one.wav\" could not be renamed to \"renamed.wav\"."));
    panes.shell.refuse = false;
    model.setData(model.index(0, 0), QStringLiteral("a/b"));
    QCOMPARE(lastText(),
             std::string("\"a/b\" is not a file name: a name cannot be empty or hold a \"/\"."));
    QVERIFY(std::filesystem::exists(panes.audio + "one.wav"));
    for (const auto& shown : panes.prompts.shown)
        QVERIFY(shown.kind == PromptKind::error || shown.kind == PromptKind::confirmation);
}

// What other programs do in the folders shows within a second, the selection and the
// scrolled-to file kept, once no name is being edited.
void LocalPanesTest::changesByOtherProgramsShowByThemselves() {
    namespace fs = std::filesystem;
    Panes panes;
    panes.start();
    const std::string &midi = panes.midi, &audio = panes.audio;
    TListViewXPSafe& audioList = panes.audioList();
    struct Case {
        TListViewXPSafe& list;
        std::function<void()> change;
        QString shows;
        QString goes;
    };
    const std::vector<Case> cases{
        {panes.midiList(), [&] { test::writeBytes(midi + "New.mid", midiLasting(960)); },
         "New|MID|00:01|35", ""},
        {panes.midiList(), [&] { fs::rename(midi + "Song.mid", midi + "Tune.mid"); },
         "Tune|MID|01:00|36", "Song|MID|01:00|36"},
        {panes.midiList(), [&] { test::writeBytes(midi + "bad.MID", midiLasting(57216)); },
         "bad|MID|01:00|36", "bad|MID|?|31"},
        {panes.midiList(), [&] { fs::remove(midi + "a.RMI"); }, "", "a|RMI|00:07|37"},
        {audioList, [&] { test::writeBytes(audio + "six.mp3", "12345"); }, "six|MP3|5", ""},
        {audioList, [&] { fs::remove(audio + "Two.MP3"); }, "", "Two|MP3|999"},
    };
    for (const Case& c : cases) {
        const QStringList kept{&c.list == &audioList ? "four.WMA" : "a.MID"};
        panes.select(c.list, kept);
        QWidget* focused = QApplication::focusWidget();
        c.change();
        QTRY_VERIFY_WITH_TIMEOUT((c.shows.isEmpty() || rows(c.list).contains(c.shows)) &&
                                     !rows(c.list).contains(c.goes),
                                 2000);
        QCOMPARE(selectedNames(c.list), kept);
        QCOMPARE(QApplication::focusWidget(), focused);
    }

    // A file that comes above the top row of a list scrolled down leaves that row on top.
    for (int i = 0; i < 60; ++i)
        test::writeBytes(audio + "x" + std::to_string(i) + ".wav", std::string(2000, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(rowCountOf(audioList), 64, 2000);
    audioList.scrollToTopRow(30);
    QVERIFY(audioList.topRow() > 0);
    const QString top = cell(audioList, audioList.topRow(), 0);
    test::writeBytes(audio + "small.wav", "");
    QTRY_COMPARE_WITH_TIMEOUT(rowCountOf(audioList), 65, 2000);
    QCOMPARE(cell(audioList, audioList.topRow(), 0), top);

    // A missing folder that is made later.
    panes.form->state.midiFolder = panes.folder.file("Later/MIDI/");
    panes.form->fillLocalMidiList(false);
    fs::create_directories(panes.form->state.midiFolder);
    test::writeBytes(panes.form->state.midiFolder + "Late.mid", midiLasting(960));
    QTRY_COMPARE_WITH_TIMEOUT(rows(panes.midiList()), QStringList{"Late|MID|00:01|35"}, 2000);

    // While a name is edited the refill waits for the editor to close.
    QSignalSpy told(panes.form->localAudioPane().findChild<FolderWatch*>(), &FolderWatch::changed);
    audioList.edit(audioList.model()->index(0, 0));
    test::writeBytes(audio + "seven.mp3", "1234567");
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 1, 2000);
    QVERIFY(audioList.editing() && !rows(audioList).contains("seven|MP3|7"));
    QTest::keyClick(audioList.findChild<QLineEdit*>(), Qt::Key_Escape);
    QTRY_VERIFY(rows(audioList).contains("seven|MP3|7"));
}

void LocalPanesTest::filesDropInAndDragOut() {
    Panes panes;
    panes.start();
    const std::string elsewhere = panes.folder.file("elsewhere/");
    std::filesystem::create_directories(elsewhere);
    test::writeBytes(elsewhere + "Song.mid", midiLasting(960));
    test::writeBytes(elsewhere + "notes.txt", "text");
    TListViewXPSafe& midi = panes.midiList();
    const auto drop = [&](const std::vector<std::string>& paths) {
        QList<QUrl> urls;
        for (const std::string& path : paths)
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(midi.viewport(), &enter);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(midi.viewport(), &event);
        QVERIFY(event.isAccepted() && event.dropAction() == Qt::CopyAction);
        QCoreApplication::processEvents(); // the copy follows the drop
    };
    // A taken name gives a fresh one; other types are left out.
    drop({elsewhere + "Song.mid", elsewhere + "notes.txt"});
    QCOMPARE(panes.shell.copied, std::vector<std::string>{elsewhere + "Song.mid"});
    QVERIFY(rows(midi).contains("Song (2)|MID|00:01|35"));
    QVERIFY(panes.prompts.shown.empty());
    drop({elsewhere + "notes.txt"});
    QCOMPARE(panes.prompts.shown.back().text,
             std::string("Only MIDI files (MID, RMI) can be dropped here."));
    // The folder's own files stay as they are.
    drop({panes.midi + "a.MID"});
    QCOMPARE(panes.shell.copied.size(), 1u);
    QCOMPARE(panes.prompts.shown.size(), 1u);

    // The audio rows drag out as their files.
    TListViewXPSafe& audio = panes.audioList();
    panes.select(audio, {"one.WAV", "four.WMA"});
    const std::unique_ptr<QMimeData> data = audio.fileDragData(audio.selectedRows());
    QCOMPARE(data->urls(),
             (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(panes.audio + "one.wav")),
                          QUrl::fromLocalFile(QString::fromStdString(panes.audio + "four.wma"))}));
}

void LocalPanesTest::uploadTipTellsWhyItIsDisabled() {
    Panes panes;
    panes.start();
    struct Case {
        const char* user;
        int waiting;
        QStringList selected;
        const char* tip; // empty when the button is enabled
    };
    const std::vector<Case> cases{
        {"", 0, {"Song.MID"}, "Sign up or confirm your account to upload"},
        {"user@example.org", 1, {"Song.MID"}, "Wait until the request to the service has ended"},
        {"user@example.org", 0, {"bad.MID"}, "Select MIDI files whose play time is known"},
        {"user@example.org", 0, {"bad.MID", "Song.MID"}, ""},
    };
    QAbstractButton* upload = panes.form->localMidiPane().uploadButton();
    for (const Case& c : cases) {
        panes.form->state.userID = c.user;
        panes.form->state.password = "secret";
        panes.form->state.requestsWaiting = c.waiting;
        panes.select(panes.midiList(), c.selected);
        panes.form->updateLocalMidiButtons();
        QCOMPARE(upload->isEnabled(), *c.tip == '\0');
        QCOMPARE(upload->toolTip(),
                 QString::fromLatin1(*c.tip ? c.tip : "Upload selected MIDI files for rendering"));
    }
    panes.form->state.requestsWaiting = 0;
}

QTEST_MAIN(LocalPanesTest)
#include "localPanesTest.moc"
