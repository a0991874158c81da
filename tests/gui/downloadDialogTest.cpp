#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "downloadUnit.h"
#include "httpTestServer.h"
#include "netUnit.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;
using namespace std::chrono_literals;

namespace {

using Route = std::function<void(const httplib::Request&, httplib::Response&)>;

std::string pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 131 + seed + (i >> 9));
    return bytes;
}

// The file's bytes, the second half after a pause long enough for the bar to show the first.
Route pausedBytes(const std::string& body) {
    return [body](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "audio/mpeg",
                                 [body](size_t offset, size_t, httplib::DataSink& sink) {
                                     const size_t half = body.size() / 2;
                                     if (offset == 0)
                                         return sink.write(body.data(), half);
                                     std::this_thread::sleep_for(200ms);
                                     return sink.write(body.data() + offset, body.size() - offset);
                                 });
    };
}

Route text(const std::string& body) {
    return [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/plain");
    };
}

// Runs `work` on the GUI thread and waits until it has run; the dialog keeps its loop turning
// while a transfer waits, so this answers within a turn.
void onGui(QObject* context, const std::function<void()>& work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ran = done->get_future();
    QMetaObject::invokeMethod(
        context,
        [work, done] {
            work();
            done->set_value();
        },
        Qt::QueuedConnection);
    ran.wait_for(10s);
}

// What the dialog showed when a request came in.
struct Seen {
    QString caption;
    QString fileName;
    int bar;
};

// A download dialog with its own service on loopback, whose answers go by the requested name.
class Rig {
public:
    Rig()
        : state(makeState(seams))
        , form(nullptr, state, seams.seams()) {
        http.server.Get(
            "/cgi-bin/wmn.pl", [this](const httplib::Request& req, httplib::Response& res) {
                const std::string name = req.get_param_value("FNM");
                {
                    std::lock_guard lock(mutex_);
                    requested_.push_back(name);
                    targets_.push_back(req.target);
                }
                onGui(&form, [this] {
                    seen.push_back({form.findChild<QLabel*>("downloadingFileStaticText")->text(),
                                    form.findChild<QLabel*>("fileNameStaticText")->text(),
                                    form.findChild<QProgressBar*>("progressBar")->value()});
                });
                const auto route = routes.find(name);
                if (route == routes.end()) {
                    res.status = 404;
                    return;
                }
                route->second(req, res);
            });
        QObject::connect(form.findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged,
                         &form, [this](int value) { barValues.push_back(value); });
    }

    static MainState makeState(test::TestSeams& seams) {
        MainState state;
        state.service.supportEmail = "help@tonvert.localhost";
        state.net = std::make_unique<TNet>(seams.connection, seams.pump);
        return state;
    }

    // Routes go in before the start.
    void start() {
        http.start();
        job.account = {"download.localhost:" + std::to_string(http.port()), "ann@example.org",
                       "secret"};
        job.targetFolder = folder.path();
    }

    // One run of the dialog, as the main window does it; a guard ends a run that hangs.
    bool execute(const std::vector<std::string>& names) {
        job.audioFiles = names;
        form.setJob(job);
        seen.clear();
        barValues.clear();
        seams.prompts.shown.clear();
        bool guardFired = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &form, [&] {
            guardFired = true;
            form.done(QDialog::Rejected);
        });
        guard.start(30000);
        const bool result = form.execute();
        [&] { QVERIFY2(!guardFired, "the dialog did not end its run"); }();
        [&] {
            // The run's end is the same on every way out.
            QVERIFY(!form.isVisible());
            QVERIFY(form.started);
            QVERIFY(!form.findChild<QPushButton*>("abortBtn")->isEnabled());
            QVERIFY(QApplication::overrideCursor() == nullptr);
            QVERIFY(!state.net->OnProgress);
            QVERIFY(!state.net->OnStatus);
        }();
        return result;
    }

    std::vector<std::string> requested() {
        std::lock_guard lock(mutex_);
        return requested_;
    }
    std::vector<std::string> targets() {
        std::lock_guard lock(mutex_);
        return targets_;
    }

    // Everything in the audio folder: partial files would show up here.
    std::set<std::string> folderEntries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    QString errorText(std::size_t index = 0) const {
        return QString::fromStdString(seams.prompts.shown.at(index).text);
    }

    test::TestSeams seams;
    MainState state;
    TdownloadForm form;
    DownloadJob job;
    test::TempFolder folder;
    std::map<std::string, Route> routes;
    std::vector<Seen> seen; // GUI thread only
    std::vector<int> barValues;
    test::HttpTestServer http; // last: it stops before the routes go

private:
    std::mutex mutex_;
    std::vector<std::string> requested_;
    std::vector<std::string> targets_;
};

const QString kLead = QStringLiteral("An error occurred while downloading the file\n\n");
const QString k1033 = QStringLiteral("Can't open audio file on server. It may no longer be there.");

} // namespace

class DownloadDialogTest : public QObject {
    Q_OBJECT
private slots:
    void windowAndComponents();
    void filesArriveInTurnUnderTheirNames();
    void refusedFileStopsTheRun();
    void failuresKeepTheOldFile();
    void emptyBodyIsSaved();
};

void DownloadDialogTest::windowAndComponents() {
    Rig rig;
    TdownloadForm& form = rig.form;
    QCOMPARE(form.objectName(), QStringLiteral("downloadForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Download audio"));
    QCOMPARE(form.size(), QSize(536, 62));
    QVERIFY(form.windowFlags().testFlag(Qt::Tool));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(form.net == rig.state.net.get());

    auto* caption = form.findChild<QLabel*>("downloadingFileStaticText");
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Downloading file:"));
    auto* name = form.findChild<QLabel*>("fileNameStaticText");
    QVERIFY(name);
    QVERIFY(name->alignment().testFlag(Qt::AlignRight));
    auto* panel = form.findChild<QWidget*>("progressPanel");
    QVERIFY(panel);
    auto* bar = panel->findChild<QProgressBar*>("progressBar");
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1000);
    QCOMPARE(bar->value(), 0);
    auto* abort = form.findChild<QPushButton*>("abortBtn");
    QVERIFY(abort);
    QCOMPARE(abort->text(), QStringLiteral("&Abort"));
    QVERIFY(!abort->icon().isNull());
    QVERIFY(!abort->isEnabled());
    auto* timer = form.findChild<QTimer*>("downloadDelayTimer");
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 10);
    QVERIFY(timer->isSingleShot());
    QVERIFY(!timer->isActive());

    // Laid out: caption and name on top, the bar below them, the button at the bottom right.
    form.show();
    // The first showing sets the run off a moment later, from the dialog's own loop.
    QVERIFY(form.started);
    QVERIFY(timer->isActive());
    timer->stop();
    QVERIFY(caption->geometry().left() < name->geometry().left());
    QVERIFY(caption->geometry().bottom() < bar->mapTo(&form, QPoint(0, 0)).y());
    QVERIFY(abort->geometry().right() > panel->geometry().right());
    QVERIFY(panel->width() > form.width() / 2);
    form.hide();

    // The bar shows a fraction in thousandths, cut toward zero.
    form.OnNetProgress(0.4567);
    QCOMPARE(bar->value(), 456);
    form.OnNetProgress(1.0);
    QCOMPARE(bar->value(), 1000);
}

void DownloadDialogTest::filesArriveInTurnUnderTheirNames() {
    Rig rig;
    const std::string one = pattern(300000, 1), two = pattern(200000, 2), three = pattern(5, 3);
    const std::string odd = "B\xC3\xA4 nd.mp3"; // a blank and a non-ASCII letter
    rig.routes["one.mp3"] = pausedBytes(one);
    rig.routes["two.ogg"] = pausedBytes(two);
    rig.routes["three.wav"] = text(three);
    rig.routes[odd] = text("odd bytes");
    rig.start();

    QVERIFY(rig.execute({"one.mp3", "two.ogg", "three.wav"}));
    QVERIFY(rig.form.downloaded);
    QCOMPARE(rig.requested(), (std::vector<std::string>{"one.mp3", "two.ogg", "three.wav"}));
    QCOMPARE(rig.targets().front(),
             std::string("/cgi-bin/wmn.pl?LNG=us&VER=1.0&UID=ann%40example%2E"
                         "org&PWD=secret&CMD=getaudio&FNM=one%2Emp3"));
    QCOMPARE(rig.seen.size(), std::size_t(3));
    QCOMPARE(rig.seen[0].caption, QStringLiteral("Downloading file (1/3):"));
    QCOMPARE(rig.seen[1].caption, QStringLiteral("Downloading file (2/3):"));
    QCOMPARE(rig.seen[2].caption, QStringLiteral("Downloading file (3/3):"));
    QCOMPARE(rig.seen[1].fileName, QStringLiteral("two.ogg"));
    QCOMPARE(rig.seen[2].fileName, QStringLiteral("three.wav"));
    // The bar moved during the paused files and started again from nothing for each.
    for (const Seen& s : rig.seen)
        QCOMPARE(s.bar, 0);
    const auto firstUp =
        std::find_if(rig.barValues.begin(), rig.barValues.end(), [](int v) { return v > 0; });
    QVERIFY(firstUp != rig.barValues.end());
    QVERIFY(std::find(firstUp, rig.barValues.end(), 0) != rig.barValues.end());

    QCOMPARE(test::readBytes(rig.folder.file("one.mp3")), one);
    QCOMPARE(test::readBytes(rig.folder.file("two.ogg")), two);
    QCOMPARE(test::readBytes(rig.folder.file("three.wav")), three);
    QCOMPARE(rig.folderEntries(), (std::set<std::string>{"one.mp3", "two.ogg", "three.wav"}));
    QVERIFY(rig.seams.prompts.shown.empty());

    // One file: no count in the caption; the name goes out encoded and is saved as it is.
    QVERIFY(rig.execute({odd}));
    QCOMPARE(rig.seen.size(), std::size_t(1));
    QCOMPARE(rig.seen[0].caption, QStringLiteral("Downloading file:"));
    QCOMPARE(rig.seen[0].fileName, QString::fromUtf8(odd.c_str()));
    QVERIFY(rig.targets().back().ends_with("&FNM=B%C3%A4%20nd%2Emp3"));
    QCOMPARE(test::readBytes(rig.folder.file(odd)), std::string("odd bytes"));
    QVERIFY(rig.seams.prompts.shown.empty());
}

void DownloadDialogTest::refusedFileStopsTheRun() {
    Rig rig;
    rig.routes["a.mp3"] = text("first");
    rig.routes["b.mp3"] = text("\r\n!ERR 1033\tb.mp3");
    rig.routes["c.mp3"] = text("third");
    rig.start();

    QVERIFY(rig.execute({"a.mp3", "b.mp3", "c.mp3"}));
    QCOMPARE(rig.requested(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
    QCOMPARE(rig.seams.prompts.shown.size(), std::size_t(1));
    const auto& box = rig.seams.prompts.shown[0];
    QVERIFY(box.kind == PromptKind::error);
    QVERIFY(box.caption.empty());
    QVERIFY(box.buttons == PromptButtons::ok);
    QVERIFY2(rig.errorText().startsWith(kLead + "b.mp3\n\n" + k1033), qPrintable(rig.errorText()));
    QCOMPARE(test::readBytes(rig.folder.file("a.mp3")), std::string("first"));
    QCOMPARE(rig.folderEntries(), std::set<std::string>{"a.mp3"});
}

void DownloadDialogTest::failuresKeepTheOldFile() {
    Rig rig;
    const std::string old = pattern(70000, 9);
    const std::string fresh = pattern(90000, 4);
    int userStopped = 0; // GUI thread only
    // Promises 100000 bytes and hangs up after 30000.
    rig.routes["cut.mp3"] = [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "audio/mpeg", [](size_t, size_t, httplib::DataSink& sink) {
            const std::string part = pattern(30000, 5);
            sink.write(part.data(), part.size());
            return false;
        });
    };
    // Sends a little, has the user press Abort (or close the dialog), then trickles until
    // the client hangs up.
    const auto stalled = [&](std::function<void()> userStops) {
        return [&userStopped, userStops, &rig](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(
                1 << 20, "audio/mpeg",
                [&userStopped, userStops, &rig](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset == 0) {
                        const std::string part = pattern(1000, 6);
                        if (!sink.write(part.data(), part.size()))
                            return false;
                        onGui(&rig.form, [&userStopped, userStops] {
                            ++userStopped;
                            userStops();
                        });
                    }
                    for (int i = 0; i < 500; ++i) {
                        std::this_thread::sleep_for(10ms);
                        if (!sink.write("x", 1))
                            return false;
                    }
                    return false;
                });
        };
    };
    bool openAfterClose = false;
    rig.routes["stopped.mp3"] =
        stalled([&rig] { rig.form.findChild<QPushButton*>("abortBtn")->click(); });
    rig.routes["closed.mp3"] = stalled([&rig, &openAfterClose] {
        rig.form.close();
        openAfterClose = rig.form.isVisible();
    });
    rig.routes["refused.mp3"] = text("!ERR 1033");
    rig.routes["old.mp3"] = text("!ERR 1100\tf1\tf2\thttp://www.example.com/new\r\n");
    rig.routes["blocked.mp3"] = text("never saved");
    rig.routes["fresh.mp3"] = text(fresh);
    rig.start();

    const auto expectOneError = [&](const std::string& name, const QString& ending) {
        QCOMPARE(rig.seams.prompts.shown.size(), std::size_t(1));
        QVERIFY(rig.seams.prompts.shown[0].kind == PromptKind::error);
        QVERIFY2(rig.errorText().startsWith(kLead + QString::fromStdString(name) + "\n\n"),
                 qPrintable(rig.errorText()));
        QVERIFY2(rig.errorText().endsWith(ending), qPrintable(rig.errorText()));
    };
    const auto oldStays = [&](const std::string& name) {
        QCOMPARE(test::readBytes(rig.folder.file(name)), old);
        QCOMPARE(rig.folderEntries(), std::set<std::string>{name});
        std::filesystem::remove(rig.folder.file(name));
    };

    test::writeBytes(rig.folder.file("cut.mp3"), old);
    QVERIFY(!rig.execute({"cut.mp3"}));
    expectOneError("cut.mp3", "Can't read from URL");
    oldStays("cut.mp3");

    test::writeBytes(rig.folder.file("stopped.mp3"), old);
    QVERIFY(!rig.execute({"stopped.mp3", "fresh.mp3"}));
    QCOMPARE(userStopped, 1);
    expectOneError("stopped.mp3", "Internet connection aborted!");
    QCOMPARE(rig.requested().back(), std::string("stopped.mp3"));
    oldStays("stopped.mp3");

    // Closing during the run stops it like Abort; the dialog stays until the run is over.
    test::writeBytes(rig.folder.file("closed.mp3"), old);
    QVERIFY(!rig.execute({"closed.mp3"}));
    QCOMPARE(userStopped, 2);
    QVERIFY(openAfterClose);
    expectOneError("closed.mp3", "Internet connection aborted!");
    oldStays("closed.mp3");

    test::writeBytes(rig.folder.file("refused.mp3"), old);
    QVERIFY(!rig.execute({"refused.mp3"}));
    expectOneError("refused.mp3", "Refresh online audio file list to check.");
    QVERIFY(rig.seams.prompts.shown[0].buttons == PromptButtons::ok);
    oldStays("refused.mp3");

    // An error that names a page offers it; Yes opens it.
    test::writeBytes(rig.folder.file("old.mp3"), old);
    rig.seams.prompts.answers = {PromptAnswer::yes};
    QVERIFY(!rig.execute({"old.mp3"}));
    expectOneError("old.mp3", "http://www.example.com/new\n\nnow?");
    QVERIFY(rig.seams.prompts.shown[0].buttons == PromptButtons::yesNo);
    QCOMPARE(rig.seams.shell.openedUrls, std::vector<std::string>{"http://www.example.com/new"});
    oldStays("old.mp3");

    // A folder in the way of the final name: the download is thrown away.
    std::filesystem::create_directory(rig.folder.file("blocked.mp3"));
    test::writeBytes(rig.folder.file("blocked.mp3/inside"), old);
    QVERIFY(!rig.execute({"blocked.mp3"}));
    expectOneError("blocked.mp3", "Can't save the file: Is a directory");
    QCOMPARE(test::readBytes(rig.folder.file("blocked.mp3/inside")), old);
    QCOMPARE(rig.folderEntries(), std::set<std::string>{"blocked.mp3"});
    std::filesystem::remove_all(rig.folder.file("blocked.mp3"));

    // A folder that cannot be written to: nothing is left anywhere.
    rig.job.targetFolder = rig.folder.file("missing/");
    QVERIFY(!rig.execute({"fresh.mp3"}));
    expectOneError("fresh.mp3", "System error 2: Can't create temporary file");
    QVERIFY(!std::filesystem::exists(rig.folder.file("missing")));
    rig.job.targetFolder = rig.folder.path();

    // A name that would lead out of the folder is not asked for at all.
    const std::size_t asked = rig.requested().size();
    QVERIFY(!rig.execute({"../fresh.mp3"}));
    expectOneError("../fresh.mp3", "This is not a file name that can be saved.");
    QCOMPARE(rig.requested().size(), asked);

    // A download that works replaces the old file.
    test::writeBytes(rig.folder.file("fresh.mp3"), old);
    QVERIFY(rig.execute({"fresh.mp3"}));
    QVERIFY(rig.seams.prompts.shown.empty());
    QCOMPARE(test::readBytes(rig.folder.file("fresh.mp3")), fresh);
    QCOMPARE(rig.folderEntries(), std::set<std::string>{"fresh.mp3"});
}

void DownloadDialogTest::emptyBodyIsSaved() {
    Rig rig;
    rig.routes["silence.wav"] = text("");
    rig.start();
    test::writeBytes(rig.folder.file("silence.wav"), "older");
    QVERIFY(rig.execute({"silence.wav"}));
    QVERIFY(rig.seams.prompts.shown.empty());
    QVERIFY(std::filesystem::is_regular_file(rig.folder.file("silence.wav")));
    QCOMPARE(std::filesystem::file_size(rig.folder.file("silence.wav")), std::uintmax_t(0));
    QCOMPARE(rig.folderEntries(), std::set<std::string>{"silence.wav"});
}

QTEST_MAIN(DownloadDialogTest)
#include "downloadDialogTest.moc"
