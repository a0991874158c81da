#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <chrono>
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

using namespace tonvert;
using namespace std::chrono_literals;

namespace {

// The settings a TNet carries, to compare before and after.
struct Settings {
    std::string server, bypass, status;
    std::uint16_t port, attempts;
    std::int32_t timeout;
    bool operator==(const Settings&) const = default;
};

Settings settingsOf(const TNet& net) {
    return {net.proxyServer, net.proxyBypass, net.status, net.proxyPort, net.attempts, net.timeout};
}

// A network setup dialog on a TNet of its own, run as the Network command runs it.
class Rig {
public:
    Rig()
        : net(seams.connection, seams.pump)
        , form(nullptr, seams.seams()) {
        net.proxyServer = "proxy.example.com";
        net.proxyPort = 3128;
        net.proxyBypass = "intranet.example.com,*.local";
        net.attempts = 4;
        net.timeout = 45000;
        net.status = "before";
        net.OnStatus = [this](TNet& sender) {
            if (&sender == &net)
                ++ownStatusEvents;
        };
    }

    template <class T> T* child(const char* name) {
        T* found = form.findChild<T*>(QLatin1String(name));
        if (found == nullptr)
            qFatal("no %s", name);
        return found;
    }
    QLineEdit* server() { return child<QLineEdit>("serverEdit"); }
    QLineEdit* port() { return child<QLineEdit>("portEdit"); }
    QPlainTextEdit* memo() { return child<QPlainTextEdit>("bypassMemo"); }
    QSpinBox* timeOut() { return child<QSpinBox>("timeOutUpDown"); }
    QSpinBox* attempts() { return child<QSpinBox>("attemptsUpDown"); }
    QPushButton* testBtn() { return child<QPushButton>("testBtn"); }
    QPushButton* okBtn() { return child<QPushButton>("okBtn"); }

    // Runs the dialog; `whileOpen` acts once it is up and must close it. A guard ends a run
    // that does not close.
    bool execute(const std::string& url, const std::function<void()>& whileOpen) {
        bool guardFired = false;
        QTimer::singleShot(0, &form, whileOpen);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &form, [&] {
            guardFired = true;
            form.done(QDialog::Rejected);
        });
        guard.start(30000);
        const bool result = form.execute(net, url, 1200);
        [&] { QVERIFY2(!guardFired, "the dialog was not closed"); }();
        [&] {
            QVERIFY(!form.isVisible());
            QVERIFY(!form.testing);
            QVERIFY(QApplication::overrideCursor() == nullptr);
        }();
        return result;
    }

    test::TestSeams seams;
    TNet net;
    TinternetSetupForm form;
    int ownStatusEvents = 0;
};

// A page that answers once the test lets it, ten seconds at most; the requests it saw and a
// hook run on the GUI thread when one comes in.
class HeldPage {
public:
    HeldPage() {
        http.server.Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            ++requests;
            if (onRequest)
                QMetaObject::invokeMethod(qApp, onRequest, Qt::QueuedConnection);
            std::unique_lock lock(mutex_);
            released_.wait_for(lock, 10s, [this] { return release_; });
            res.set_content("late", "text/plain");
        });
        http.start();
    }
    ~HeldPage() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
    }

    std::function<void()> onRequest;
    std::atomic<int> requests{0};
    test::HttpTestServer http;

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

const std::string kIniText = "[Connect]\r\nTestURL=http://elsewhere.example.org/\r\n"
                             "Timeout=1000\r\n[ProxyBypass]\r\n1=old1\r\n2=old2\r\n3=old3\r\n"
                             "4=old4\r\n";

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
    void connectSettingsDefaults();
    void connectSettingsWrittenAndReadBack();
};

void NetworkDialogTest::windowAndComponents() {
    Rig rig;
    TinternetSetupForm& form = rig.form;
    QCOMPARE(form.objectName(), QStringLiteral("internetSetupForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Network setup"));
    QCOMPARE(form.size(), QSize(441, 200));
    QVERIFY(form.windowFlags().testFlag(Qt::Tool));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!form.accepted && !form.testing && form.testNet != nullptr);

    QCOMPARE(rig.child<QGroupBox>("proxyGroupBox")->title(), QStringLiteral("Proxy"));
    QCOMPARE(rig.child<QGroupBox>("patienceGroupBox")->title(), QStringLiteral("Slow connections"));
    QCOMPARE(rig.child<QLabel>("serverLabel")->text(), QStringLiteral("Server"));
    QCOMPARE(rig.child<QLabel>("portLabel")->text(), QStringLiteral("Port"));
    QCOMPARE(rig.child<QLabel>("bypassLabel")->text(), QStringLiteral("Bypass"));
    QCOMPARE(rig.child<QLabel>("timeOutLabel")->text(), QStringLiteral("Timeout (s)"));
    QCOMPARE(rig.child<QLabel>("attemptsLabel")->text(), QStringLiteral("Attempts"));
    QVERIFY(rig.server()->text().isEmpty() && rig.port()->text().isEmpty());
    QVERIFY(rig.memo()->toPlainText().isEmpty());
    QCOMPARE(rig.memo()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(rig.timeOut()->value(), 60);
    QCOMPARE(rig.timeOut()->minimum(), 1);
    QCOMPARE(rig.timeOut()->maximum(), 3600);
    QVERIFY(!rig.timeOut()->wrapping());
    QCOMPARE(rig.attempts()->value(), 5);
    QCOMPARE(rig.attempts()->minimum(), 1);
    QCOMPARE(rig.attempts()->maximum(), 10);
    QVERIFY(!rig.attempts()->wrapping());
    const QStringList captions{QStringLiteral("&Help"), QStringLiteral("&Test"),
                               QStringLiteral("&OK")};
    const char* const buttons[] = {"helpBtn", "testBtn", "okBtn"};
    for (int i = 0; i < 3; ++i) {
        QPushButton* button = rig.child<QPushButton>(buttons[i]);
        QCOMPARE(button->text(), captions[i]);
        QVERIFY(!button->icon().isNull());
        QVERIFY(!button->autoDefault() && !button->isDefault());
    }

    // Tab goes through the proxy group, the slow-connection group, then the buttons.
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

    // The help topic is the one execute was given.
    QSignalSpy help(&form, &TinternetSetupForm::helpRequested);
    QVERIFY(!rig.execute("http://test.localhost/", [&] {
        QTest::mouseClick(rig.child<QPushButton>("helpBtn"), Qt::LeftButton);
        // Enter has no default button to click.
        QTest::keyClick(rig.server(), Qt::Key_Return);
        QTest::keyClick(rig.okBtn(), Qt::Key_Enter);
        QVERIFY(form.isVisible());
        form.close();
    }));
    QCOMPARE(help.count(), 1);
    QCOMPARE(help.at(0).at(0).toInt(), 1200);
    QCOMPARE(form.helpContext(), 1200);
}

void NetworkDialogTest::fillsFromTheSettingsAndReadsBack() {
    Rig rig;
    TNet read(rig.seams.connection, rig.seams.pump);
    rig.net.proxyBypass = "a.example.com,,*.local,b,";
    rig.net.timeout = 0;
    rig.net.attempts = 0;
    QVERIFY(!rig.execute("", [&] {
        QCOMPARE(rig.server()->text(), QStringLiteral("proxy.example.com"));
        QCOMPARE(rig.port()->text(), QStringLiteral("3128"));
        // One entry a line, the empty one kept, nothing for the trailing comma.
        QCOMPARE(rig.memo()->toPlainText(), QStringLiteral("a.example.com\n\n*.local\nb"));
        // Below the ranges: the lowest positions.
        QCOMPARE(rig.timeOut()->value(), 1);
        QCOMPARE(rig.attempts()->value(), 1);
        rig.form.readParams(read);
        rig.form.close();
    }));
    QCOMPARE(read.proxyBypass, std::string("a.example.com,*.local,b"));
    QCOMPARE(read.timeout, 1000);
    QCOMPARE(read.attempts, std::uint16_t(1));

    // Seconds shown truncated; values above the ranges show the highest positions.
    rig.net.timeout = 1999;
    rig.net.attempts = 20;
    QVERIFY(!rig.execute("", [&] {
        QCOMPARE(rig.timeOut()->value(), 1);
        QCOMPARE(rig.attempts()->value(), 10);
        rig.form.close();
    }));
    rig.net.timeout = 7200000;
    rig.net.attempts = 7;
    QVERIFY(!rig.execute("", [&] {
        QCOMPARE(rig.timeOut()->value(), 3600);
        QCOMPARE(rig.attempts()->value(), 7);
        rig.form.close();
    }));

    // What is on screen goes back trimmed; blank lines give no entries.
    rig.net.timeout = 30000;
    QVERIFY(rig.execute("", [&] {
        rig.server()->setText(QStringLiteral("  cache.example.org \t"));
        rig.port()->setText(QStringLiteral(" 8080 "));
        rig.memo()->setPlainText(QStringLiteral("  one.example.com \n\n \t \n two\n*.three  \n\n"));
        rig.timeOut()->setValue(90);
        rig.attempts()->setValue(3);
        QTest::mouseClick(rig.okBtn(), Qt::LeftButton);
    }));
    QVERIFY(rig.form.accepted);
    QCOMPARE(rig.net.proxyServer, std::string("cache.example.org"));
    QCOMPARE(rig.net.proxyPort, std::uint16_t(8080));
    QCOMPARE(rig.net.proxyBypass, std::string("one.example.com,two,*.three"));
    QCOMPARE(rig.net.timeout, 90000);
    QCOMPARE(rig.net.attempts, std::uint16_t(3));

    // Three entries come back as they went in; blanks clear the proxy.
    rig.net.proxyBypass = "x.example.com,*.lan,192.168.1.7";
    QVERIFY(rig.execute("", [&] {
        QCOMPARE(rig.memo()->toPlainText(), QStringLiteral("x.example.com\n*.lan\n192.168.1.7"));
        rig.server()->setText(QStringLiteral("   "));
        QTest::mouseClick(rig.okBtn(), Qt::LeftButton);
    }));
    QCOMPARE(rig.net.proxyBypass, std::string("x.example.com,*.lan,192.168.1.7"));
    QCOMPARE(rig.net.proxyServer, std::string());
    QCOMPARE(rig.net.timeout, 90000);
}

void NetworkDialogTest::testButtonFollowsServerAndPort() {
    Rig rig;
    QVERIFY(rig.execute("", [&] {
        QPushButton* test = rig.testBtn();
        const auto enabledWith = [&](const char* server, const char* port) {
            rig.server()->setText(QLatin1String(server));
            rig.port()->setText(QLatin1String(port));
            return test->isEnabled();
        };
        // No proxy needs no port.
        QVERIFY(enabledWith("", "abc"));
        QVERIFY(enabledWith("  ", "70000"));
        QVERIFY(enabledWith("", "-1"));
        QVERIFY(enabledWith("proxy.example.com", "0"));
        QVERIFY(enabledWith(" proxy.example.com ", " 65535 "));
        QVERIFY(enabledWith("my_proxy.corp-net.example", "8080"));
        QVERIFY(!enabledWith("proxy.example.com", "65536"));
        QVERIFY(!enabledWith("proxy.example.com", "-1"));
        QVERIFY(!enabledWith("proxy.example.com", "80x"));
        QVERIFY(!enabledWith("proxy.example.com", ""));
        QVERIFY(!enabledWith("localhost", "80"));
        QVERIFY(!enabledWith("proxy..example.com", "80"));
        QVERIFY(!enabledWith("proxy.example.c", "80"));
        QVERIFY(!enabledWith("proxy example.com", "80"));
        QVERIFY(!enabledWith("pr\xC3\xB6xy.example.com", "80"));
        // OK stores whatever is typed.
        QVERIFY(!enabledWith("proxy.example.com", "70000"));
        QVERIFY(rig.okBtn()->isEnabled());
        QTest::mouseClick(rig.okBtn(), Qt::LeftButton);
    }));
    QCOMPARE(rig.net.proxyServer, std::string("proxy.example.com"));
    QCOMPARE(rig.net.proxyPort, std::uint16_t(70000 & 0xFFFF));

    // A port that is no number is stored as 80.
    QVERIFY(rig.execute("", [&] {
        QVERIFY(rig.testBtn()->isEnabled()); // filled from the stored port 4464
        rig.port()->setText(QStringLiteral("eighty"));
        QVERIFY(!rig.testBtn()->isEnabled());
        QTest::mouseClick(rig.okBtn(), Qt::LeftButton);
    }));
    QCOMPARE(rig.net.proxyPort, std::uint16_t(80));
}

void NetworkDialogTest::testFetchesThePageOnAWorkingCopy() {
    Rig rig;
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
    rig.net.proxyServer.clear(); // the page is reached directly
    const std::string page = http.url("/page");
    const std::string dead = "http://test.localhost:" + std::to_string(test::unusedPort()) + "/";
    const Settings before = settingsOf(rig.net);
    const auto& shown = rig.seams.prompts.shown;

    QVERIFY(rig.execute(page, [&] {
        rig.timeOut()->setValue(7);
        rig.attempts()->setValue(2);
        rig.memo()->setPlainText(QStringLiteral("one.example\ntwo.example"));
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
        QCOMPARE(shown.size(), std::size_t(1));
        QVERIFY(shown[0].kind == PromptKind::information);
        QCOMPARE(shown[0].text, std::string("Network settings OK!"));
        QVERIFY(shown[0].buttons == PromptButtons::ok);
        // The test ran on the values on screen, in its own TNet.
        QCOMPARE(rig.form.testNet->timeout, 7000);
        QCOMPARE(rig.form.testNet->attempts, std::uint16_t(2));
        QCOMPARE(rig.form.testNet->proxyBypass, std::string("one.example,two.example"));
        QCOMPARE(settingsOf(rig.net), before);
        QCOMPARE(rig.ownStatusEvents, 0);
        QCOMPARE(rig.testBtn()->text(), QStringLiteral("&Test"));
        QVERIFY(rig.okBtn()->isEnabled());

        // An address without a scheme is a web page.
        rig.form.testURL = page.substr(std::string("http://").size());
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
        QCOMPARE(shown.size(), std::size_t(2));
        QCOMPARE(shown[1].text, std::string("Network settings OK!"));

        // Nobody at the address: the message names the host.
        rig.attempts()->setValue(1);
        rig.form.testURL = dead;
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
        QCOMPARE(shown.size(), std::size_t(3));
        QVERIFY(shown[2].kind == PromptKind::error);
        QCOMPARE(shown[2].text,
                 std::string("System error 111: Can't connect to host test.localhost"));
        QVERIFY(rig.okBtn()->isEnabled());
        QCOMPARE(settingsOf(rig.net), before);
        QTest::mouseClick(rig.okBtn(), Qt::LeftButton);
    }));
    {
        std::lock_guard lock(mutex);
        QCOMPARE(agents.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(agents[0]), QCoreApplication::applicationName());
    }
    // OK writes what is on screen, and only OK.
    QCOMPARE(rig.net.timeout, 7000);
    QCOMPARE(rig.net.attempts, std::uint16_t(1));
    QCOMPARE(rig.net.proxyBypass, std::string("one.example,two.example"));
    QCOMPARE(rig.net.status, std::string("before"));
}

void NetworkDialogTest::secondTestClickStopsTheFirst() {
    Rig rig;
    rig.net.proxyServer.clear();
    HeldPage held;
    const auto& shown = rig.seams.prompts.shown;
    bool busyWhileTesting = false;
    bool stopWasOffered = false;
    held.onRequest = [&] {
        stopWasOffered = rig.form.testing && rig.testBtn()->text() == QStringLiteral("&Stop") &&
                         rig.testBtn()->isEnabled() && !rig.okBtn()->isEnabled();
        busyWhileTesting = QApplication::overrideCursor() != nullptr &&
                           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        // Even a server name that would disable Test keeps Stop within reach.
        rig.server()->setText(QStringLiteral("not a host"));
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
    };
    QVERIFY(!rig.execute(held.http.url("/held"), [&] {
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
        QCOMPARE(shown.size(), std::size_t(1));
        QVERIFY(shown[0].kind == PromptKind::error);
        QCOMPARE(shown[0].text, std::string("Internet connection aborted!"));
        QCOMPARE(rig.testBtn()->text(), QStringLiteral("&Test"));
        QVERIFY(!rig.testBtn()->isEnabled()); // the name typed meanwhile counts again
        QVERIFY(rig.okBtn()->isEnabled());
        QTest::keyClick(rig.memo(), Qt::Key_Escape);
    }));
    QCOMPARE(held.requests.load(), 1);
    QVERIFY(stopWasOffered);
    QVERIFY(busyWhileTesting);
}

void NetworkDialogTest::leavingWithoutOK() {
    Rig rig;
    const Settings before = settingsOf(rig.net);
    const auto edit = [&] {
        rig.server()->setText(QStringLiteral("other.example.com"));
        rig.port()->setText(QStringLiteral("81"));
        rig.memo()->setFocus();
        rig.memo()->setPlainText(QStringLiteral("changed.example.com"));
        rig.timeOut()->setValue(5);
    };
    // Escape typed into the memo reaches the dialog.
    QVERIFY(!rig.execute("", [&] {
        edit();
        QTest::keyClick(rig.memo(), Qt::Key_Escape);
    }));
    QVERIFY(!rig.form.accepted);
    QCOMPARE(settingsOf(rig.net), before);
    QVERIFY(!rig.execute("", [&] {
        edit();
        QTest::keyClick(rig.timeOut(), Qt::Key_Escape);
    }));
    QCOMPARE(settingsOf(rig.net), before);

    // The close box during a test stops it; the dialog goes when it has ended, with no word
    // about the test.
    rig.net.proxyServer.clear();
    const Settings direct = settingsOf(rig.net);
    HeldPage held;
    bool stayedForTheTest = false;
    held.onRequest = [&] {
        rig.form.close();
        stayedForTheTest = rig.form.isVisible() && rig.form.testing;
    };
    QVERIFY(!rig.execute(held.http.url("/held"), [&] {
        edit();
        rig.server()->clear();
        QTest::mouseClick(rig.testBtn(), Qt::LeftButton);
    }));
    QVERIFY(stayedForTheTest);
    QCOMPARE(held.requests.load(), 1);
    QVERIFY(rig.seams.prompts.shown.empty());
    QCOMPARE(settingsOf(rig.net), direct);
}

void NetworkDialogTest::connectSettingsDefaults() {
    test::TempFolder folder;
    test::TestSeams seams;
    TNet net(seams.connection, seams.pump);
    net.proxyServer = "stale.example.com";
    net.proxyBypass = "stale";
    net.proxyPort = 1;
    net.attempts = 1;
    net.timeout = 1;
    std::string testURL = "stale";
    {
        const TPortableIniFile ini(folder.file("none.ini"));
        readConnectSettings(ini, testURL, net, "http://tonvert.localhost:8080/");
    }
    QCOMPARE(testURL, std::string("http://tonvert.localhost:8080/"));
    QCOMPARE(net.proxyServer, std::string());
    QCOMPARE(net.proxyPort, std::uint16_t(80));
    QCOMPARE(net.attempts, std::uint16_t(5));
    QCOMPARE(net.timeout, 60000);
    QCOMPARE(net.proxyBypass, std::string());
    QVERIFY(!std::filesystem::exists(folder.file("none.ini")));

    // Hand-made keys count in file order; empty values are no entries; numbers keep 16 bits.
    test::writeBytes(folder.file("hand.ini"),
                     "[Connect]\r\nTestURL=http://page.example.org/x\r\nAttempts=65539\r\n"
                     "[ProxyBypass]\r\nb=one\r\na=\r\nc=two=three\r\n1=four\r\n"
                     "[Proxy]\r\nServer=cache.example.net\r\nPort=70000\r\n");
    {
        const TPortableIniFile ini(folder.file("hand.ini"));
        readConnectSettings(ini, testURL, net, "http://unused.example/");
    }
    QCOMPARE(testURL, std::string("http://page.example.org/x"));
    QCOMPARE(net.proxyServer, std::string("cache.example.net"));
    QCOMPARE(net.proxyPort, std::uint16_t(70000 & 0xFFFF));
    QCOMPARE(net.attempts, std::uint16_t(3));
    QCOMPARE(net.timeout, 60000);
    QCOMPARE(net.proxyBypass, std::string("one,two=three,four"));
}

void NetworkDialogTest::connectSettingsWrittenAndReadBack() {
    test::TempFolder folder;
    test::TestSeams seams;
    const std::string path = folder.file("tonvert.ini");
    test::writeBytes(path, kIniText);
    TNet net(seams.connection, seams.pump);
    net.proxyServer = "proxy.example.com";
    net.proxyPort = 8080;
    net.attempts = 3;
    net.timeout = 90000;
    net.proxyBypass = "a.example.com,*.local,10.0.0.1";
    const auto writeAndReadBack = [&] {
        {
            TPortableIniFile ini(path);
            writeConnectSettings(ini, net);
        }
        TNet back(seams.connection, seams.pump);
        std::string testURL;
        const TPortableIniFile ini(path);
        readConnectSettings(ini, testURL, back, "http://default.example/");
        QCOMPARE(settingsOf(back).server, net.proxyServer);
        QCOMPARE(back.proxyPort, net.proxyPort);
        QCOMPARE(back.attempts, net.attempts);
        QCOMPARE(back.timeout, net.timeout);
        QCOMPARE(back.proxyBypass, net.proxyBypass);
        // The test address is the user's: kept as it was, never written.
        QCOMPARE(testURL, std::string("http://elsewhere.example.org/"));
        QCOMPARE(ini.readString("Connect", "TestURL", ""), testURL);
    };

    writeAndReadBack();
    std::vector<std::string> lines;
    {
        const TPortableIniFile ini(path);
        ini.readSectionValues("ProxyBypass", lines);
        QCOMPARE(ini.readString("Proxy", "Server", ""), std::string("proxy.example.com"));
        QCOMPARE(ini.readInteger("Proxy", "Port", 0), 8080);
        QCOMPARE(ini.readInteger("Connect", "Attempts", 0), 3);
        QCOMPARE(ini.readInteger("Connect", "Timeout", 0), 90000);
    }
    QCOMPARE(lines, (std::vector<std::string>{"1=a.example.com", "2=*.local", "3=10.0.0.1"}));

    // A shorter list leaves nothing of the longer one.
    net.proxyBypass = "only.example.com";
    writeAndReadBack();
    lines.clear();
    {
        const TPortableIniFile ini(path);
        ini.readSectionValues("ProxyBypass", lines);
    }
    QCOMPARE(lines, std::vector<std::string>{"1=only.example.com"});

    // No list, no section; no proxy, no server key.
    net.proxyBypass.clear();
    net.proxyServer.clear();
    writeAndReadBack();
    const std::string text = test::readBytes(path);
    QVERIFY2(text.find("[ProxyBypass]") == std::string::npos, text.c_str());
    QVERIFY2(text.find("Server=") == std::string::npos, text.c_str());
    QVERIFY2(text.find("TestURL=http://elsewhere.example.org/") != std::string::npos, text.c_str());

    // The test address is not written even where the file had none.
    const std::string fresh = folder.file("fresh.ini");
    {
        TPortableIniFile ini(fresh);
        writeConnectSettings(ini, net);
    }
    QVERIFY(test::readBytes(fresh).find("TestURL") == std::string::npos);
}

QTEST_MAIN(NetworkDialogTest)
#include "networkDialogTest.moc"
