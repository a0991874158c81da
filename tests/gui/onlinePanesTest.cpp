#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "ListViewXPSafe.h"
#include "clientOnService.h"
#include "credentials.h"
#include "dayNumbers.h"
#include "fileListText.h"
#include "mainUnit.h"
#include "midiBytes.h"
#include "netUnit.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "serviceRequests.h"
#include "storeSupport.h"
#include "testFiles.h"

using namespace tonvert;

namespace {

// Renders by copying the MIDI bytes into an MP3-named file: enough for audio to appear.
struct CopyingRenderer : service::Renderer {
    service::RenderResult render(const service::RenderJob& job,
                                 const std::string& output) override {
        std::filesystem::copy_file(job.midiPath, output);
        return {true, "mp3", ""};
    }
};

struct CopyingRendererHolder {
    CopyingRenderer copying;
};

// The window over a service that renders by copying, or not at all.
struct Online : CopyingRendererHolder, test::ClientOnService {
    explicit Online(bool renders = false)
        : test::ClientOnService(renders ? &copying : nullptr) {}
    OnlinePane& midi() { return form->onlineMidiPane(); }
    OnlinePane& audio() { return form->onlineAudioPane(); }
};

QStringList rows(OnlinePane& pane) {
    return test::rowTexts(pane.model());
}

void selectAll(OnlinePane& pane) {
    pane.list().selectAll();
}

// The refresh time as the user's locale writes it: the fixed clock stands at 9 December 2025,
// noon.
QString refreshTime() {
    const QLocale locale = QLocale::system();
    return " [" + locale.toString(QDate(2025, 12, 9), QLocale::ShortFormat) + " " +
           locale.toString(QTime(12, 0), QLocale::LongFormat) + "]";
}

} // namespace

class OnlinePanesTest : public QObject {
    Q_OBJECT
private slots:
    void refreshKeepsTheListForTheNextStart();
    void deletesWalkTheSelectionAndTellWhatFailed();
    void listFilesAreReadAsTheyStand();
    void buttonsKeysAndPopups();
    void refreshTimesAreClockTimes();
};

void OnlinePanesTest::refreshKeepsTheListForTheNextStart() {
    Online online(true);
    QCOMPARE(online.upload("Waltz.mid"), std::string("!VAL 1"));
    online.start();
    OnlinePane& audio = online.audio();
    QTRY_VERIFY_WITH_TIMEOUT((audio.refresh(false), audio.model().rowCount() == 1),
                             10000); // rendered by then
    const auto size = static_cast<qlonglong>(test::taggedMidi("Waltz.mid").size());
    const QStringList waltz{"Waltz|MP3|" + QString::number(size)};
    QCOMPARE(rows(audio), waltz);
    QCOMPARE(audio.model().index(0, 0).data(kSizeRole).toLongLong(), size);
    QCOMPARE(audio.infoPanel().text(), "1 file" + refreshTime());

    // A list file that cannot be written still leaves the fresh list on show.
    const std::string listFile = online.folder.file("Temp/AudioList.TXT");
    std::filesystem::rename(listFile, listFile + ".kept");
    std::filesystem::create_directory(listFile);
    online.audio().model().clear();
    audio.refresh(false);
    QCOMPARE(rows(audio), waltz);
    std::filesystem::remove(listFile);
    std::filesystem::rename(listFile + ".kept", listFile);

    // The same service without its renderer: records wait, listed in upload order.
    online.service.reset();
    online.service = std::make_unique<test::LoopbackService>(online.folder.file("data"), nullptr);
    online.form->state.service.host = online.service->host();
    QCOMPARE(online.upload("Tango.mid"), std::string("!VAL 2"));
    QCOMPARE(online.upload("Polka.mid"), std::string("!VAL 3"));
    online.midi().refresh(false);
    const QStringList waiting = rows(online.midi());
    QCOMPARE(waiting, (QStringList{"Tango|MID", "Polka|MID"}));
    QCOMPARE(online.midi().model().index(1, 0).data(kRecordRole).toLongLong(), 3);
    const std::string listed = test::readBytes(online.folder.file("Temp/MidiList.TXT"));
    QCOMPARE(listed.substr(0, 16), std::string("46000.5\n!VAL 2\r\n"));
    QVERIFY(online.seams.prompts.shown.empty());

    // The next start shows the lists before going on line: the service is gone by then.
    const QStringList audioRows = rows(audio);
    const QString info = audio.infoPanel().text();
    online.form.reset();
    online.service.reset();
    online.seams.clock.time += 1; // a day later, which no list shows
    online.start();
    QCOMPARE(rows(online.audio()), audioRows);
    QCOMPARE(online.audio().infoPanel().text(), info);
    QCOMPARE(rows(online.midi()), waiting);

    // A refresh that cannot reach the service says so and leaves the pane alone.
    online.audio().refresh(true);
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(1));
    QCOMPARE(online.seams.prompts.shown[0].kind, PromptKind::error);
    QVERIFY(online.seams.prompts.shown[0].text.find("Can't connect to host") != std::string::npos);
    QCOMPARE(rows(online.audio()), audioRows);

    // Asked by itself, the same failure shows no box: the panel says it, the list stays.
    QCOMPARE(online.audio().refreshQuietly(), QuietRefresh::transportFailed);
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(1));
    QVERIFY(online.audio().infoPanel().text().startsWith("Not refreshed: "));
    QVERIFY(online.audio().infoPanel().text().contains("Can't connect to host"));
    QCOMPARE(rows(online.audio()), audioRows);
}

void OnlinePanesTest::deletesWalkTheSelectionAndTellWhatFailed() {
    Online online;
    for (const char* name : {"One.mid", "Two.mid", "Three.mid"})
        QCOMPARE(online.upload(name).substr(0, 5), std::string("!VAL "));
    online.start();
    OnlinePane& midi = online.midi();
    midi.refresh(false);
    QCOMPARE(rows(midi), (QStringList{"One|MID", "Two|MID", "Three|MID"}));

    // Asked first; one of them is gone already: its box names it, OK goes on with the rest,
    // and the refresh after the walk shows what is left.
    test::LoopbackService& service = *online.service;
    QVERIFY(test::deleteWaitingMidi(service.store(), online.user, "Two.mid"));
    midi.list().selectRows({0, 1});
    online.seams.prompts.answers = {PromptAnswer::yes, PromptAnswer::ok};
    online.form->deleteOnlineMidiFiles();
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(2));
    const auto& question = online.seams.prompts.shown[0];
    QCOMPARE(question.kind, PromptKind::confirmation);
    QCOMPARE(question.buttons, PromptButtons::yesNo);
    QCOMPARE(question.text,
             std::string("Delete these 2 files from the service?\n\nThis cannot be undone."));
    const auto& box = online.seams.prompts.shown[1];
    QCOMPARE(box.buttons, PromptButtons::okAbort);
    QCOMPARE(box.text, std::string("Error encountered while deleting MIDI file\n\nTwo.MID\n\n"
                                   "Can't open MIDI record on server. It may already have been "
                                   "moved to the processing queue or deleted. Refresh online "
                                   "MIDI file list to check."));
    QCOMPARE(rows(midi), QStringList{"Three|MID"});
    QCOMPARE(midi.list().selectedRows(), std::vector<int>{});

    // Abort in such a box leaves the walk: the entries after it stay.
    QCOMPARE(online.upload("Four.mid").substr(0, 5), std::string("!VAL "));
    midi.refresh(false);
    QVERIFY(test::deleteWaitingMidi(service.store(), online.user, "Three.mid"));
    selectAll(midi);
    online.seams.prompts.answers = {PromptAnswer::yes, PromptAnswer::abort};
    online.form->deleteOnlineMidiFiles();
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(4));
    QVERIFY(online.seams.prompts.shown[3].text.find("\n\nThree.MID\n\n") != std::string::npos);
    QCOMPARE(rows(midi), QStringList{"Four|MID"});

    // Audio files are deleted by name, which travels encoded: blanks and "&" arrive.
    QVERIFY(test::deleteWaitingMidi(service.store(), online.user, "Four.mid"));
    for (const std::string name : {"A b&c.mp3", "Plain.ogg"})
        QVERIFY(test::publishAudioFile(service.store(), online.user, name, "abc"));
    OnlinePane& audio = online.audio();
    audio.refresh(false);
    QCOMPARE(rows(audio), (QStringList{"A b&c|MP3|3", "Plain|OGG|3"}));
    audio.list().selectRows({0});
    online.seams.prompts.answers = {PromptAnswer::yes};
    online.form->deleteOnlineAudioFiles();
    QCOMPARE(rows(audio), QStringList{"Plain|OGG|3"});
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(5)); // the question alone
    QCOMPARE(online.seams.prompts.shown[4].text,
             std::string("Delete \"A b&c.MP3\" from the service?\n\nThis cannot be undone."));

    // The Delete key asks the same; No leaves the file on the service.
    audio.list().selectRows({0});
    online.seams.prompts.answers = {PromptAnswer::no};
    QTest::keyClick(&audio.list(), Qt::Key_Delete);
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(6));
    QCOMPARE(online.seams.prompts.shown[5].kind, PromptKind::confirmation);
    audio.refresh(false);
    QCOMPARE(rows(audio), QStringList{"Plain|OGG|3"});
}

void OnlinePanesTest::listFilesAreReadAsTheyStand() {
    test::TempFolder folder;
    test::TestSeams seams;
    test::AboutBoxCloser closer;
    std::filesystem::create_directories(folder.file("Temp"));
    TmainForm form(folder.file("tonvert"), seams.seams());
    OnlinePane& midi = form.onlineMidiPane();
    OnlinePane& audio = form.onlineAudioPane();
    const auto show = [&](OnlinePane& pane, const std::string& text) {
        test::writeBytes(pane.listFilePath(), text);
        pane.showList(false);
    };

    show(midi, "46000.5\n!VAL 0\n");
    QCOMPARE(midi.infoPanel().text(), "No files" + refreshTime());
    show(midi, "46000.5\r\n\r\n!VAL 2\n12\tSong.mid\twaiting\n!ERR 1042\n");
    QCOMPARE(rows(midi), QStringList{"Song|MID"});
    QCOMPARE(midi.infoPanel().text(), "1 file" + refreshTime());
    // One bad entry spoils the whole MIDI list; a bad time spoils any list.
    for (const std::string bad :
         {"46000.5\n!VAL 1\n12\tSong.mid\n", "46000.5\n!VAL 1\n12\tSo.ng.mid\tx\n",
          "46000.5\n!VAL 1\n12\tSong.mi\tx\n", "noon\n!VAL 0\n", "46000.5\n!ERR 1000\n"}) {
        show(midi, bad);
        QCOMPARE(midi.model().rowCount(), 0);
        QCOMPARE(midi.infoPanel().text(), QStringLiteral("No data"));
    }

    // The audio list drops only its bad lines, and sizes sort by their numbers.
    show(audio, "46000.5\n!VAL \t4\nBig.wav\t1234567\nSmall.mp3\t999\nbad.midi\t5\nOdd.ogg\tx\n"
                "!VAL \t1\nMid.wma\t1000\n");
    QCOMPARE(rows(audio), (QStringList{"Big|WAV|1 234 567", "Small|MP3|999", "Mid|WMA|1 000"}));
    emit audio.list().columnClicked(2);
    QCOMPARE(rows(audio).first(), QStringLiteral("Small|MP3|999"));
    emit audio.list().columnClicked(2);
    QCOMPARE(rows(audio).first(), QStringLiteral("Big|WAV|1 234 567"));
    emit audio.list().columnClicked(0);
    QCOMPARE(rows(audio).first(), QStringLiteral("Big|WAV|1 234 567"));
    QCOMPARE(audio.list().tag, 1);

    // A list shown again keeps the selected entries selected by name and type.
    audio.list().selectRows({1});
    audio.showList(true);
    QCOMPARE(audio.list().selectedRows(), std::vector<int>{2}); // back in list order
    show(audio, "no list at all");
    QCOMPARE(audio.infoPanel().text(), QStringLiteral("No data"));
    QVERIFY(seams.prompts.shown.empty());
}

void OnlinePanesTest::buttonsKeysAndPopups() {
    Online online;
    QCOMPARE(online.upload("One.mid"), std::string("!VAL 1"));
    test::writeBytes(online.folder.file("Temp/AudioList.TXT"), "46000.5\n!VAL \t1\nA.mp3\t5\n");
    online.start();
    OnlinePane& midi = online.midi();
    OnlinePane& audio = online.audio();
    const auto enabled = [&](const char* name) {
        return online.form->findChild<QAbstractButton*>(QString::fromLatin1(name))->isEnabled();
    };
    QVERIFY(enabled("onlineMidiRefreshBtn") && enabled("onlineAudioRefreshBtn"));
    QVERIFY(!enabled("onlineAudioDeleteBtn") && !enabled("audioDownloadBtn"));
    audio.list().selectRows({0});
    QVERIFY(enabled("onlineAudioDeleteBtn") && enabled("audioDownloadBtn"));
    auto* popup = online.form->findChild<QMenu*>(QStringLiteral("onlineAudioListPopupMenu"));
    emit popup->aboutToShow();
    const auto item = [&](const char* name) {
        return online.form->findChild<QAction*>(QString::fromLatin1(name))->isEnabled();
    };
    QVERIFY(item("onlineAudioListPopupMenuDownload") && item("onlineAudioListPopupMenuDelete"));

    // Ctrl+R refreshes for a user with credentials.
    QTest::keyClick(&midi.list(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(rows(midi), QStringList{"One|MID"});

    // Without a password nothing is enabled and Ctrl+R asks nothing; the popup's Refresh
    // still sends the request, and the service's answer is shown.
    online.form->state.password.clear();
    online.form->updateOnlineMidiButtons();
    online.form->updateOnlineAudioButtons();
    QVERIFY(!enabled("onlineMidiRefreshBtn") && !enabled("onlineAudioDeleteBtn") &&
            !enabled("audioDownloadBtn"));
    test::writeBytes(midi.listFilePath(), "");
    QTest::keyClick(&midi.list(), Qt::Key_R, Qt::ControlModifier);
    QVERIFY(online.seams.prompts.shown.empty());
    online.form->findChild<QAction*>(QStringLiteral("onlineMidiListPopupMenuRefresh"))->trigger();
    QCOMPARE(online.seams.prompts.shown.size(), std::size_t(1));
    QCOMPARE(online.seams.prompts.shown[0].text, std::string("Your password is missing."));
    QCOMPARE(test::readBytes(midi.listFilePath()), std::string()); // an error reply is not kept
}

// The list files keep the time on the clock; on a day the clocks change (the test runs in
// Berlin's time zone) that is not the time gone by since midnight.
void OnlinePanesTest::refreshTimesAreClockTimes() {
    for (const QTime time : {QTime(1, 30), QTime(15, 0), QTime(23, 59, 59, 999)}) {
        const QDateTime moment(QDate(2024, 3, 31), time);
        QCOMPARE(dateTimeOf(dayNumberOf(moment)), moment);
    }
    QCOMPARE(dateTimeOf(45382.99999999999), QDateTime(QDate(2024, 4, 1), QTime(0, 0)));
    QCOMPARE(dayNumberText(46000.5, ","), std::string("46000,5"));
    QCOMPARE(dayNumberText(46000.123456789, "."), std::string("46000.123456789"));
    QCOMPARE(dayNumberText(46000, ","), std::string("46000"));
}

QTEST_MAIN(OnlinePanesTest)
#include "onlinePanesTest.moc"
