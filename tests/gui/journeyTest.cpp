// The road of a MIDI file through the running program: uploaded with a preset, rendered by
// the reference service, listed online and downloaded into the local audio folder.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "ListViewXPSafe.h"
#include "clientOnService.h"
#include "credentials.h"
#include "downloadUnit.h"
#include "localPane.h"
#include "mainUnit.h"
#include "midiBytes.h"
#include "modalDriver.h"
#include "netUnit.h"
#include "onlineArrivals.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "queue/fluidRenderer.h"
#include "recordingSeams.h"
#include "serviceRequests.h"
#include "storeSupport.h"
#include "testFiles.h"
#include "uploadUnit.h"

using namespace tonvert;

namespace {

// Holds every render until the test lets them go, so that uploaded files can be seen
// waiting first.
class GatedRenderer : public service::Renderer {
public:
    service::RenderResult render(const service::RenderJob& job,
                                 const std::string& output) override {
        {
            std::unique_lock lock(mutex_);
            opened_.wait(lock, [this] { return open_; });
        }
        return fluid_.render(job, output);
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    service::FluidRenderer fluid_{render::RenderOptions{}};
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// A MIDI file whose one note ends after `seconds` (480 ticks a quarter at 120 beats a
// minute: 960 ticks a second).
std::string midiLasting(double seconds) {
    using namespace test;
    const auto ticks = static_cast<std::uint32_t>(seconds * 960);
    return header(0, 1, 480) + trackChunk(bytes({0x00, 0x90, 0x3C, 0x64}) + varLen(ticks) +
                                          bytes({0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
}

struct GatedRendererHolder {
    GatedRenderer renderer;
};

// The window over a service whose renders wait for the test, or that renders nothing.
struct Journey : GatedRendererHolder, test::ClientOnService {
    explicit Journey(bool renders = true)
        : test::ClientOnService(renders ? &renderer : nullptr, "journey@example.org") {}
    ~Journey() {
        form.reset();
        // A render held back must not keep the service from stopping.
        renderer.open();
    }

    // Selects the local MIDI files of these names.
    void selectMidi(const QStringList& names) {
        LocalPane& pane = form->localMidiPane();
        pane.list().clearSelection();
        std::vector<int> rows;
        for (int i = 0; i < pane.model().rowCount(); ++i)
            if (names.contains(QString::fromStdString(pane.model().row(i).fileName)))
                rows.push_back(i);
        pane.list().selectRows(rows);
    }

    // Runs the upload command; `act` works on the dialog once it is up.
    void runUpload(const std::function<void(TuploadForm&)>& act) {
        QTimer::singleShot(0, form.get(), [act] {
            auto* dialog = qobject_cast<TuploadForm*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            act(*dialog);
        });
        form->midiUpload();
    }
};

// Picks the format and the preset of that quality, then submits.
void submitWith(TuploadForm& dialog, int format, const QString& quality) {
    // As the user picks it: the box tells of the choice.
    auto* formats = dialog.findChild<QComboBox*>(QStringLiteral("fileFormatComboBox"));
    formats->setCurrentIndex(format);
    emit formats->activated(format);
    auto* presets = dialog.findChild<TListViewXPSafe*>(QStringLiteral("optionsListView"));
    for (int i = 0; i < presets->model()->rowCount(); ++i)
        if (presets->model()->index(i, 4).data().toString() == quality)
            presets->selectRow(i);
    dialog.findChild<QAbstractButton*>(QStringLiteral("uploadBtn"))->click();
}

// "rate,channels" of the file's audio stream as ffprobe reads it.
QString probe(const std::string& path) {
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-select_streams", "a:0", "-show_entries",
                   "stream=sample_rate,channels", "-of", "csv=p=0", QString::fromStdString(path)});
    ffprobe.waitForFinished(30000);
    return QString::fromUtf8(ffprobe.readAllStandardOutput()).trimmed();
}

} // namespace

class JourneyTest : public QObject {
    Q_OBJECT
private slots:
    void uploadGathersTheTimedSelection();
    void downloadRefillsTheAudioPaneAfterAPartialRun();
    void fromUploadToLocalAudio();
    void rendersArriveByThemselves();
    void filesDroppedOnTheOnlineMidiPaneAreUploaded();
    void newUserToFundsAndUpload();
};

void JourneyTest::uploadGathersTheTimedSelection() {
    Journey journey;
    test::writeBytes(journey.folder.file("MIDI/Long.mid"), midiLasting(205));
    test::writeBytes(journey.folder.file("MIDI/Short.mid"), midiLasting(40));
    test::writeBytes(journey.folder.file("MIDI/Broken.mid"), "MThd, nothing more");
    journey.start();
    emit journey.form->localMidiPane().list().columnClicked(0); // by name: Broken, Long, Short

    // The timed files go, in row order, with their play times summed; the broken one stays.
    journey.selectMidi({"Short.mid", "Broken.mid", "Long.mid"});
    UploadJob job;
    journey.runUpload([&](TuploadForm& dialog) {
        job = dialog.job();
        dialog.reject(); // the close box before Submit
    });
    QCOMPARE(job.totalPlayTime, 245);
    QCOMPARE(job.midiFiles, (std::vector<std::string>{journey.folder.file("MIDI/Long.mid"),
                                                      journey.folder.file("MIDI/Short.mid")}));
    const MainState& state = journey.form->state;
    QCOMPARE(job.account.host, state.service.host);
    QCOMPARE(job.account.userID, journey.user);
    QCOMPARE(job.account.password, state.password);
    // Closed before Submit: its settings are kept, and no list is fetched.
    TPortableIniFile ini(journey.folder.file("tonvert.INI"));
    QCOMPARE(ini.readInteger("UploadWindow", "formatIndex", -1), 0);
    QVERIFY(!std::filesystem::exists(journey.folder.file("Temp/MidiList.TXT")));

    // Nothing timed among the selection: the button goes off and no dialog shows.
    journey.selectMidi({"Broken.mid"});
    auto* button = journey.form->findChild<QAbstractButton*>(QStringLiteral("midiUploadBtn"));
    button->setEnabled(true);
    journey.form->midiUpload();
    QVERIFY(!button->isEnabled());
    QVERIFY(journey.seams.prompts.shown.empty());
}

void JourneyTest::downloadRefillsTheAudioPaneAfterAPartialRun() {
    Journey journey(false);
    // One file the service has, one it has not.
    QVERIFY(test::publishAudioFile(journey.service->store(), journey.user, "Have.mp3", "ID3x"));
    test::writeBytes(journey.folder.file("Temp/AudioList.TXT"),
                     "46000.5\n!VAL \t2\nHave.mp3\t4\nGone.mp3\t9\n");
    journey.start();
    OnlinePane& audio = journey.form->onlineAudioPane();
    audio.list().selectAll();
    journey.form->audioDownload();

    QCOMPARE(journey.seams.prompts.shown.size(), std::size_t(1));
    QVERIFY(journey.seams.prompts.shown[0].text.find("Gone.MP3") != std::string::npos);
    QCOMPARE(test::readBytes(journey.folder.file("Audio/Have.MP3")), std::string("ID3x"));
    QCOMPARE(test::rowTexts(journey.form->localAudioPane().model()), QStringList{"Have|MP3|4"});
}

void JourneyTest::fromUploadToLocalAudio() {
    Journey journey;
    for (const char* sample : {"Scale.mid", "Chorale.mid"})
        std::filesystem::copy_file(std::string(TONVERT_SAMPLES "/") + sample,
                                   journey.folder.file(std::string("MIDI/") + sample));
    journey.start();
    QCOMPARE(journey.form->localMidiPane().model().rowCount(), 2);

    // Two uploads with different presets; the renders wait until both are listed.
    journey.selectMidi({"Scale.mid"});
    journey.runUpload([](TuploadForm& dialog) { submitWith(dialog, 0, "Standard CBR stereo"); });
    journey.selectMidi({"Chorale.mid"});
    journey.runUpload([](TuploadForm& dialog) { submitWith(dialog, 3, "FM - mono"); });
    QVERIFY(journey.seams.prompts.shown.empty());
    OnlinePane& midiOnline = journey.form->onlineMidiPane();
    QCOMPARE(test::rowTexts(midiOnline.model()), (QStringList{"Scale|MID", "Chorale|MID"}));
    QVERIFY(midiOnline.infoPanel().text().startsWith("2 files ["));

    // Rendered, both are listed under the audio files online.
    journey.renderer.open();
    OnlinePane& audioOnline = journey.form->onlineAudioPane();
    QTRY_VERIFY_WITH_TIMEOUT(
        (journey.form->refreshOnlineAudioList(false), audioOnline.model().rowCount() == 2), 60000);
    QCOMPARE(audioOnline.model().index(0, 0).data().toString() + "." +
                 audioOnline.model().index(0, 1).data().toString(),
             QStringLiteral("Scale.MP3"));
    QCOMPARE(audioOnline.model().index(1, 1).data().toString(), QStringLiteral("WAV"));
    journey.form->refreshOnlineMidiList(false);
    QCOMPARE(midiOnline.model().rowCount(), 0);

    // Downloaded into the local audio pane, each at its preset's rate and channels.
    audioOnline.list().selectAll();
    journey.form->audioDownload();
    QVERIFY(journey.seams.prompts.shown.empty());
    const QStringList local = test::rowTexts(journey.form->localAudioPane().model());
    QCOMPARE(local.size(), 2);
    QCOMPARE(probe(journey.folder.file("Audio/Scale.MP3")), QStringLiteral("44100,2"));
    QCOMPARE(probe(journey.folder.file("Audio/Chorale.WAV")), QStringLiteral("22050,1"));
}

// Uploaded, then hands off: the audio file is listed by itself and the desktop is told of it;
// the notice's Download, or the automatic download, brings it into the local audio folder.
void JourneyTest::rendersArriveByThemselves() {
    for (const bool automatic : {false, true}) {
        Journey journey;
        test::writeBytes(journey.folder.file("MIDI/Tune.mid"), midiLasting(1));
        journey.start();
        journey.form->state.autoDownload = automatic;
        journey.selectMidi({"Tune.mid"});
        journey.runUpload(
            [](TuploadForm& dialog) { submitWith(dialog, 0, "Standard CBR stereo"); });
        QCOMPARE(test::rowTexts(journey.form->onlineMidiPane().model()), QStringList{"Tune|MID"});

        journey.renderer.open();
        OnlinePane& audio = journey.form->onlineAudioPane();
        QTRY_COMPARE_WITH_TIMEOUT(test::rowTexts(audio.model()).size(), 1, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(journey.form->onlineMidiPane().model().rowCount(), 0, 10000);
        QVERIFY(!journey.form->arrivals().schedule().running());
        const auto& notices = journey.seams.notifications.notices;
        QCOMPARE(notices.size(), std::size_t(1));
        QCOMPARE(notices[0].summary, std::string("Audio file ready"));
        QVERIFY(notices[0].body.find("Tune.MP3") != std::string::npos);
        QCOMPARE(notices[0].actionLabel, std::string(automatic ? "" : "Download"));
        if (!automatic)
            notices[0].onAction();
        QTRY_COMPARE_WITH_TIMEOUT(test::rowTexts(journey.form->localAudioPane().model()).size(), 1,
                                  20000);
        QCOMPARE(probe(journey.folder.file("Audio/Tune.MP3")), QStringLiteral("44100,2"));
        QVERIFY(journey.seams.prompts.shown.empty());
    }
}

// Files dropped on "MIDI files online" from any folder open the upload dialog with them; those
// that cannot be timed are named and stay behind.
void JourneyTest::filesDroppedOnTheOnlineMidiPaneAreUploaded() {
    Journey journey(false);
    const std::string elsewhere = journey.folder.file("elsewhere/");
    std::filesystem::create_directories(elsewhere);
    test::writeBytes(elsewhere + "Song.mid", midiLasting(40));
    test::writeBytes(elsewhere + "notes.txt", "text");
    journey.start();
    std::vector<std::string> offered;
    test::ModalDriver driver;
    driver.on("uploadForm", [&](QWidget& dialog) {
        offered = qobject_cast<TuploadForm*>(&dialog)->job().midiFiles;
        submitWith(*qobject_cast<TuploadForm*>(&dialog), 0, "Standard CBR stereo");
    });

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(elsewhere + "Song.mid")),
                  QUrl::fromLocalFile(QString::fromStdString(elsewhere + "notes.txt"))});
    QWidget* viewport = journey.form->onlineMidiPane().list().viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());

    QTRY_COMPARE(test::rowTexts(journey.form->onlineMidiPane().model()), QStringList{"Song|MID"});
    QCOMPARE(offered, std::vector<std::string>{elsewhere + "Song.mid"});
    QCOMPARE(journey.seams.prompts.shown.size(), std::size_t(1));
    QVERIFY(journey.seams.prompts.shown[0].text.find("\nnotes.txt") != std::string::npos);
}

// A new user, with nothing but the service's address in the settings file: signs up,
// confirms with the mailed password, sees balance and fees, adds funds on the service's page
// in a real browser, and uploads a MIDI file; every step through the program's own dialogs
// and commands.
void JourneyTest::newUserToFundsAndUpload() {
    test::ClientOnService client(nullptr, "fresh@example.org", false);
    std::filesystem::copy_file(TONVERT_SAMPLES "/Scale.mid", client.folder.file("MIDI/Scale.mid"));
    test::ModalDriver driver;
    driver.on("signupForm", [&](QWidget& signup) {
        signup.findChild<QLineEdit*>(QStringLiteral("emailEdit"))
            ->setText(QString::fromStdString(client.user));
        signup.findChild<QAbstractButton*>(QStringLiteral("submitBitBtn"))->click();
    });
    driver.on("confirmForm", [&](QWidget& confirm) {
        confirm.findChild<QLineEdit*>(QStringLiteral("passwordEdit"))
            ->setText(QString::fromStdString(client.service->mailedPassword()));
        confirm.findChild<QAbstractButton*>(QStringLiteral("submitBitBtn"))->click();
    });
    driver.on("uploadForm", [](QWidget& dialog) {
        submitWith(static_cast<TuploadForm&>(dialog), 0, "Standard CBR stereo");
    });
    client.start();
    TmainForm& form = *client.form;
    QCOMPARE(driver.seen, (QStringList{"signupForm", "confirmForm"}));
    QVERIFY(form.state.hasCredentials());

    test::RecordingPrompts& prompts = client.seams.prompts;
    prompts.shown.clear();
    QLocale::setDefault(QLocale::c()); // money with a point
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
    form.menuFundsViewClick();
    form.menuFundsFeesClick();
    QCOMPARE(prompts.shown.size(), std::size_t(2));
    QCOMPARE(prompts.shown[0].text, std::string("Funds in account: 5.00"));
    QCOMPARE(prompts.shown[1].text, std::string("MIDI file upload: 0.05 + 0.10 / MB\n\n"
                                                "Audio file download: 0.02 + 0.03 / MB"));

    // The page the program opens for adding funds, filled in the browser.
    form.menuFundsAddClick();
    const std::string page = client.seams.shell.openedUrls.back();
    QCOMPARE(page, "http://" + client.service->host() + "/addfunds.html");
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    browser.start(QStringLiteral("/usr/bin/python3"),
                  {TONVERT_BROWSER_TESTS "/addFunds.py", QString::fromStdString(page),
                   QString::fromStdString(client.user), QString::fromStdString(form.state.password),
                   "2.50", "--expect-balance", "7.50"});
    QVERIFY(browser.waitForFinished(120000));
    QVERIFY2(browser.exitCode() == 0, browser.readAll().constData());
    prompts.shown.clear();
    form.menuFundsViewClick();
    QCOMPARE(prompts.shown.at(0).text, std::string("Funds in account: 7.50"));

    // And the first upload.
    QTRY_COMPARE(form.localMidiPane().model().rowCount(), 1);
    form.localMidiPane().list().selectRows({0});
    QVERIFY(form.findChild<QAbstractButton*>(QStringLiteral("midiUploadBtn"))->isEnabled());
    form.findChild<QAbstractButton*>(QStringLiteral("midiUploadBtn"))->click();
    QVERIFY(driver.seen.contains("uploadForm"));
    QCOMPARE(test::rowTexts(form.onlineMidiPane().model()), QStringList{"Scale|MID"});
    QCOMPARE(prompts.shown.size(), std::size_t(1));
}

QTEST_MAIN(JourneyTest)
#include "journeyTest.moc"
