#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "connectSettings.h"
#include "internetSetupUnit.h"
#include "net/httpTestServer.h"
#include "netUnit.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "testFiles.h"
#include "textCodec.h"

using namespace tonvert;
using namespace std::chrono_literals;

namespace {

using Settings = std::tuple<std::string, std::string, std::string, int, int, int>;
Settings settingsOf(const TNet& n) {
    return {n.proxyServer, n.proxyBypass, n.status, n.proxyPort, n.attempts, n.timeout};
}

// A network setup dialog on a TNet of its own, run as the Network command runs it.
struct Rig {
    Rig()
        : net(seams.connection, seams.pump)
        , form(nullptr, seams.seams()) {
        net.proxyServer = "proxy.example.com";
        net.proxyPort = 3128;
        net.attempts = 4;
        net.timeout = 45000;
        net.status = "before";
    }
    template <class T = QWidget> T* get(const char* name) {
        return form.findChild<T*>(QLatin1String(name));
    }
    QLineEdit* server() { return get<QLineEdit>("serverEdit"); }
    QLineEdit* port() { return get<QLineEdit>("portEdit"); }
    QPlainTextEdit* memo() { return get<QPlainTextEdit>("bypassMemo"); }
    QSpinBox* timeOut() { return get<QSpinBox>("timeOutUpDown"); }
    QSpinBox* attempts() { return get<QSpinBox>("attemptsUpDown"); }
    QPushButton* testBtn() { return get<QPushButton>("testBtn"); }
    void click(const char* button) { QTest::mouseClick(get(button), Qt::LeftButton); }

    // `whileOpen` runs once the dialog is up and must close it; a guard ends a run that hangs.
    bool execute(const std::string& url, const std::function<void()>& whileOpen) {
        bool guardFired = false;
        QTimer::singleShot(0, &form, whileOpen);
        QTimer::singleShot(30000, &form, [&] {
            guardFired = true;
            form.done(QDialog::Rejected);
        });
        const bool result = form.execute(net, url, 1200);
        [&] {
            QVERIFY2(!guardFired, "the dialog was not closed");
            QVERIFY(!form.isVisible() && !form.testing);
            QVERIFY(QApplication::overrideCursor() == nullptr);
        }();
        return result;
    }

    test::TestSeams seams;
    TNet net;
    TinternetSetupForm form;
};

// A page that answers only when the test is over; `onRequest` runs on the GUI thread when
// the request is in.
struct HeldPage {
    HeldPage() {
        http.server.Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            ++requests;
            QMetaObject::invokeMethod(qApp, onRequest, Qt::QueuedConnection);
            std::unique_lock lock(mutex);
            released.wait_for(lock, 10s, [this] { return release; });
            res.set_content("late", "text/plain");
        });
        http.start();
    }
    ~HeldPage() {
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    }
    std::function<void()> onRequest;
    std::atomic<int> requests{0};
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    test::HttpTestServer http;
};

std::vector<std::string> bypassLines(const std::string& path) {
    std::vector<std::string> lines;
    TPortableIniFile(path).readSectionValues("ProxyBypass", lines);
    return lines;
}

} // namespace

class NetworkDialogTest : public QObject {
    Q_OBJECT
private slots:
    void windowAndComponents();
    void fillsFromTheSettingsAndReadsBack();
    void testButtonFollowsServerAndPort();
    void testFetchesThePageOnAWorkingCopy();
    void secondTestClickStopsTheFirst();
    void leavingWithoutOK();
    void connectSettingsInTheFile();
};

void NetworkDialogTest::windowAndComponents() {
    Rig rig;
    QCOMPARE(rig.form.windowTitle(), QStringLiteral("Network setup"));
    QCOMPARE(rig.form.size(), QSize(441, 200));
    const auto flags = rig.form.windowFlags();
    QVERIFY(flags & Qt::Tool && flags & Qt::WindowStaysOnTopHint &&
            flags & Qt::WindowCloseButtonHint);
    QCOMPARE(rig.timeOut()->value(), 60);
    QCOMPARE(rig.attempts()->value(), 5);
    QVERIFY(rig.timeOut()->minimum() == 1 && rig.timeOut()->maximum() == 3600);
    QVERIFY(rig.attempts()->minimum() == 1 && rig.attempts()->maximum() == 10);
    QVERIFY(!rig.timeOut()->wrapping() && !rig.attempts()->wrapping());

    const QStringList order{"serverEdit",     "portEdit", "bypassMemo", "timeOutUpDown",
                            "attemptsUpDown", "helpBtn",  "testBtn",    "okBtn"};
    QStringList seen;
    QWidget* widget = rig.server();
    do {
        if (order.contains(widget->objectName()) && !seen.contains(widget->objectName()))
            seen << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != rig.server());
    QCOMPARE(seen, order);

    QSignalSpy help(&rig.form, &TinternetSetupForm::helpRequested);
    QVERIFY(!rig.execute("", [&] {
        rig.click("helpBtn");
        // Enter clicks no button.
        QTest::keyClick(rig.server(), Qt::Key_Return);
        QTest::keyClick(rig.get("okBtn"), Qt::Key_Enter);
        QVERIFY(rig.form.isVisible());
        rig.form.close();
    }));
    QCOMPARE(help.count(), 1);
    QCOMPARE(help.at(0).at(0).toInt(), 1200);
}

void NetworkDialogTest::fillsFromTheSettingsAndReadsBack() {
    Rig rig;
    TNet read(rig.seams.connection, rig.seams.pump);
    const auto shows = [&](int timeout, int attempts, int seconds, int shownAttempts) {
        rig.net.timeout = timeout;
        rig.net.attempts = static_cast<std::uint16_t>(attempts);
        QVERIFY(!rig.execute("", [&] {
            QCOMPARE(rig.timeOut()->value(), seconds);
            QCOMPARE(rig.attempts()->value(), shownAttempts);
            rig.form.readParams(read);
            rig.form.close();
        }));
    };
    shows(0, 0, 1, 1);
    QVERIFY(read.timeout == 1000 && read.attempts == 1);
    shows(1999, 20, 1, 10);
    shows(7200000, 7, 3600, 7);

    // One entry a line, the empty one kept and nothing for a trailing comma; blanks and
    // empty lines go on the way back.
    rig.net.proxyBypass = "a.example.com,,*.local,b,";
    QVERIFY(rig.execute("", [&] {
        QCOMPARE(rig.port()->text(), QStringLiteral("3128"));
        QCOMPARE(rig.memo()->toPlainText(), QStringLiteral("a.example.com\n\n*.local\nb"));
        rig.server()->setText(QStringLiteral("  cache.example.org \t"));
        rig.port()->setText(QStringLiteral(" 8080 "));
        rig.memo()->setPlainText(QStringLiteral("  one.example.com \n\n \t \n two\n*.three  \n\n"));
        rig.timeOut()->setValue(90);
        rig.attempts()->setValue(3);
        rig.click("okBtn");
    }));
    QCOMPARE(settingsOf(rig.net), Settings("cache.example.org", "one.example.com,two,*.three",
                                           "before", 8080, 3, 90000));

    rig.net.proxyBypass = "x.example.com,*.lan,192.168.1.7";
    QVERIFY(rig.execute("", [&] {
        QCOMPARE(rig.memo()->toPlainText(), QStringLiteral("x.example.com\n*.lan\n192.168.1.7"));
        rig.server()->setText(QStringLiteral("   "));
        rig.click("okBtn");
    }));
    QCOMPARE(settingsOf(rig.net),
             Settings("", "x.example.com,*.lan,192.168.1.7", "before", 8080, 3, 90000));
}

void NetworkDialogTest::testButtonFollowsServerAndPort() {
    Rig rig;
    QVERIFY(rig.execute("", [&] {
        const auto enabledWith = [&](const char* server, const char* port) {
            rig.server()->setText(QString::fromUtf8(server));
            rig.port()->setText(QLatin1String(port));
            return rig.testBtn()->isEnabled();
        };
        QVERIFY(enabledWith("", "abc") && enabledWith("  ", "70000") && enabledWith("", "-1"));
        QVERIFY(enabledWith("proxy.example.com", "0"));
        QVERIFY(enabledWith(" my_proxy.corp-net.example ", " 65535 "));
        for (const char* port : {"65536", "-1", "80x", ""})
            QVERIFY2(!enabledWith("proxy.example.com", port), port);
        for (const char* server : {"localhost", "proxy..example.com", "proxy.example.c",
                                   "proxy example.com", "pr\xC3\xB6xy.example.com"})
            QVERIFY2(!enabledWith(server, "80"), server);
        // OK stores whatever is typed.
        QVERIFY(!enabledWith("proxy.example.com", "70000"));
        rig.click("okBtn");
    }));
    QCOMPARE(rig.net.proxyPort, 70000 & 0xFFFF);

    QVERIFY(rig.execute("", [&] {
        rig.port()->setText(QStringLiteral("eighty"));
        rig.click("okBtn");
    }));
    QCOMPARE(rig.net.proxyPort, 80);
}

void NetworkDialogTest::testFetchesThePageOnAWorkingCopy() {
    Rig rig;
    int ownStatusEvents = 0;
    rig.net.OnStatus = [&](TNet& sender) { ownStatusEvents += &sender == &rig.net; };
    std::mutex mutex;
    std::vector<std::string> agents;
    test::HttpTestServer http;
    http.server.Get("/page", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(mutex);
            agents.push_back(req.get_header_value("User-Agent"));
        }
        res.set_content("<html>any page</html>", "text/html");
    });
    http.start();
    rig.net.proxyServer.clear();
    const Settings before = settingsOf(rig.net);
    const auto& shown = rig.seams.prompts.shown;
    const std::string page = http.url("/page");

    QVERIFY(rig.execute(page, [&] {
        rig.timeOut()->setValue(7);
        rig.attempts()->setValue(2);
        rig.memo()->setPlainText(QStringLiteral("one.example\ntwo.example"));
        rig.click("testBtn");
        QCOMPARE(shown.size(), std::size_t(1));
        QVERIFY(shown[0].kind == PromptKind::information && shown[0].buttons == PromptButtons::ok);
        QCOMPARE(shown[0].text, std::string("Network settings OK!"));
        // The test ran on the values on screen, in its own TNet.
        QCOMPARE(settingsOf(*rig.form.testNet),
                 Settings("", "one.example,two.example", rig.form.testNet->status, 3128, 2, 7000));
        QCOMPARE(settingsOf(rig.net), before);
        QCOMPARE(ownStatusEvents, 0);

        // An address without a scheme is a web page.
        rig.form.testURL = page.substr(7);
        rig.click("testBtn");
        QCOMPARE(shown.at(1).text, std::string("Network settings OK!"));

        rig.attempts()->setValue(1);
        rig.form.testURL = "http://test.localhost:" + std::to_string(test::unusedPort()) + "/";
        rig.click("testBtn");
        QVERIFY(shown.at(2).kind == PromptKind::error);
        QCOMPARE(shown[2].text,
                 std::string("System error 111: Can't connect to host test.localhost"));
        QCOMPARE(settingsOf(rig.net), before);
        rig.click("okBtn");
    }));
    QCOMPARE(agents, std::vector<std::string>(2, toBytes(QCoreApplication::applicationName())));
    QCOMPARE(settingsOf(rig.net), Settings("", "one.example,two.example", "before", 3128, 1, 7000));
}

void NetworkDialogTest::secondTestClickStopsTheFirst() {
    Rig rig;
    rig.net.proxyServer.clear();
    HeldPage held;
    bool stopOffered = false;
    held.onRequest = [&] {
        const QCursor* cursor = QApplication::overrideCursor();
        stopOffered = rig.form.testing && rig.testBtn()->text() == QStringLiteral("&Stop") &&
                      !rig.get("okBtn")->isEnabled() && cursor && cursor->shape() == Qt::WaitCursor;
        // A name that would disable Test leaves Stop within reach.
        rig.server()->setText(QStringLiteral("not a host"));
        rig.click("testBtn");
    };
    QVERIFY(!rig.execute(held.http.url("/held"), [&] {
        rig.click("testBtn");
        QCOMPARE(rig.seams.prompts.shown.size(), std::size_t(1));
        QVERIFY(rig.seams.prompts.shown[0].kind == PromptKind::error);
        QCOMPARE(rig.seams.prompts.shown[0].text, std::string("Internet connection aborted!"));
        QCOMPARE(rig.testBtn()->text(), QStringLiteral("&Test"));
        QVERIFY(!rig.testBtn()->isEnabled() && rig.get("okBtn")->isEnabled());
        rig.form.close();
    }));
    QCOMPARE(held.requests.load(), 1);
    QVERIFY(stopOffered);
}

void NetworkDialogTest::leavingWithoutOK() {
    Rig rig;
    const Settings before = settingsOf(rig.net);
    const auto editThenEscape = [&](QWidget* where) {
        return [&rig, where] {
            rig.server()->setText(QStringLiteral("other.example.com"));
            rig.memo()->setPlainText(QStringLiteral("changed.example.com"));
            rig.timeOut()->setValue(5);
            QTest::keyClick(where, Qt::Key_Escape);
        };
    };
    QVERIFY(!rig.execute("", editThenEscape(rig.memo())));
    QVERIFY(!rig.execute("", editThenEscape(rig.timeOut())));
    QCOMPARE(settingsOf(rig.net), before);

    // The close box during a test stops it; the dialog goes once it has ended, without a
    // message about it.
    rig.net.proxyServer.clear();
    HeldPage held;
    bool stayedForTheTest = false;
    held.onRequest = [&] {
        rig.form.close();
        stayedForTheTest = rig.form.isVisible() && rig.form.testing;
    };
    QVERIFY(!rig.execute(held.http.url("/held"), [&] {
        rig.port()->setText(QStringLiteral("81"));
        rig.click("testBtn");
    }));
    QVERIFY(stayedForTheTest);
    QVERIFY(rig.seams.prompts.shown.empty());
    QCOMPARE(rig.net.proxyPort, 3128);
}

void NetworkDialogTest::connectSettingsInTheFile() {
    test::TempFolder folder;
    test::TestSeams seams;
    TNet net(seams.connection, seams.pump);
    std::string testURL;
    const auto read = [&](const std::string& path) {
        readConnectSettings(TPortableIniFile(path), testURL, net, "http://tonvert.localhost/");
    };
    net.proxyBypass = "stale";
    read(folder.file("none.ini"));
    QCOMPARE(testURL, std::string("http://tonvert.localhost/"));
    QCOMPARE(settingsOf(net), Settings("", "", "", 80, 5, 60000));

    // Any keys, in file order; empty values are no entries; numbers keep 16 bits.
    const std::string path = folder.file("tonvert.ini");
    test::writeBytes(path, "[Connect]\r\nTestURL=http://page.example.org/\r\nAttempts=65539\r\n"
                           "[ProxyBypass]\r\nb=one\r\na=\r\nc=two=three\r\n1=four\r\n"
                           "[Proxy]\r\nServer=cache.example.net\r\nPort=70000\r\n");
    read(path);
    QCOMPARE(testURL, std::string("http://page.example.org/"));
    QCOMPARE(settingsOf(net),
             Settings("cache.example.net", "one,two=three,four", "", 70000 & 0xFFFF, 3, 60000));

    const auto writeAndReadBack = [&](const std::string& bypass) {
        net.proxyBypass = bypass;
        writeConnectSettings(*std::make_unique<TPortableIniFile>(path), net);
        const Settings written = settingsOf(net);
        net = TNet(seams.connection, seams.pump);
        read(path);
        QCOMPARE(settingsOf(net), written);
        QCOMPARE(testURL, std::string("http://page.example.org/"));
    };
    net.proxyPort = 8080;
    net.timeout = 90000;
    writeAndReadBack("a.example.com,*.local,10.0.0.1");
    QCOMPARE(bypassLines(path),
             (std::vector<std::string>{"1=a.example.com", "2=*.local", "3=10.0.0.1"}));
    writeAndReadBack("only.example.com");
    QCOMPARE(bypassLines(path), std::vector<std::string>{"1=only.example.com"});
    writeAndReadBack("");
    QVERIFY(test::readBytes(path).find("[ProxyBypass]") == std::string::npos);

    // The test address is the user's own: never written.
    writeConnectSettings(*std::make_unique<TPortableIniFile>(folder.file("new.ini")), net);
    QVERIFY(test::readBytes(folder.file("new.ini")).find("[Proxy]") == 0);
    QVERIFY(test::readBytes(folder.file("new.ini")).find("TestURL") == std::string::npos);
}

QTEST_MAIN(NetworkDialogTest)
#include "networkDialogTest.moc"
