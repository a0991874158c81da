// The Setup and Funds menus against the reference service on loopback: from a new user to
// a confirmed account, a new password, the network settings, the folders, balance and fees.

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <filesystem>

#include "ListViewXPSafe.h"
#include "clientOnService.h"
#include "confirmUnit.h"
#include "credentials.h"
#include "enterPwdUnit.h"
#include "httpTestServer.h"
#include "localPane.h"
#include "mainUnit.h"
#include "modalDriver.h"
#include "netUnit.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "signupUnit.h"

using namespace tonvert;

namespace {

template <typename T> T& child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("missing %s", name);
    return *found;
}

void type(QWidget& dialog, const char* edit, const std::string& text) {
    child<QLineEdit>(dialog, edit).setText(QString::fromStdString(text));
}

void click(QWidget& dialog, const char* button) {
    child<QAbstractButton>(dialog, button).click();
}

Credentials storedCredentials(const test::ClientOnService& client) {
    const TPortableIniFile ini(client.folder.file("tonvert.INI"));
    return readCredentials(ini);
}

std::vector<std::string> texts(const test::RecordingPrompts& prompts) {
    std::vector<std::string> out;
    for (const auto& shown : prompts.shown)
        out.push_back(shown.text);
    return out;
}

bool enabled(QWidget& form, const char* name) {
    return child<QAbstractButton>(form, name).isEnabled();
}

bool itemEnabled(QWidget& form, const char* name) {
    return child<QAction>(form, name).isEnabled();
}

} // namespace

class AccountTest : public QObject {
    Q_OBJECT
private slots:
    void newUserSignsUpAndConfirms();
    void newPasswordIsRequestedThenEntered();
    void networkSettingsAndFolders();
    void fundsAndFeesInTheUsersNumbers();
    void noSecondRequestWhileOneWaits();
    void passwordsShowDotsAndSignupSaysWhy();
};

void AccountTest::newUserSignsUpAndConfirms() {
    test::ClientOnService client(nullptr, "new@example.org", false);
    test::ModalDriver driver;
    driver.on("signupForm", [&](QWidget& signup) {
        type(signup, "emailEdit", "  new@example.org ");
        QCOMPARE(child<QAbstractButton>(signup, "submitBitBtn").text(),
                 QStringLiteral("Create account tied to e-mail address \"new@example.org\""));
        click(signup, "submitBitBtn");
    });
    driver.on("confirmForm", [&](QWidget& confirm) {
        QCOMPARE(child<QAbstractButton>(confirm, "submitBitBtn").text(),
                 QStringLiteral("Confirm account tied to e-mail address \"new@example.org\""));
        // A wrong password keeps the dialog open, and is stored all the same.
        type(confirm, "passwordEdit", "wrong");
        click(confirm, "submitBitBtn");
        QVERIFY(confirm.isVisible());
        QCOMPARE(storedCredentials(client).password, std::string("wrong"));
        type(confirm, "passwordEdit", client.service->mailedPassword());
        // While the service is asked nothing can be sent twice, and Escape waits.
        bool lookedDuring = false;
        QTimer::singleShot(0, &confirm, [&] {
            QVERIFY(!child<QAbstractButton>(confirm, "submitBitBtn").isEnabled());
            QVERIFY(!child<QLineEdit>(confirm, "passwordEdit").isEnabled());
            QTest::keyClick(&confirm, Qt::Key_Escape);
            QVERIFY(confirm.isVisible());
            lookedDuring = true;
        });
        click(confirm, "submitBitBtn");
        QVERIFY(lookedDuring);
    });
    // The first start leads the new user into signing up, and that into confirming.
    client.start();
    QCOMPARE(driver.seen, (QStringList{"signupForm", "confirmForm"}));
    const std::string password = client.service->mailedPassword();
    QCOMPARE(texts(client.seams.prompts),
             (std::vector<std::string>{
                 "Your account has been created. The account password has been mailed to\n\n"
                 "new@example.org\n\nWhen you receive it, use the \"Setup > Confirm account\" "
                 "menu entry to activate your account.",
                 "Wrong password.", "Your account is ready for use!"}));
    QCOMPARE(client.form->state.userID, std::string("new@example.org"));
    QCOMPARE(client.form->state.password, password);
    QCOMPARE(storedCredentials(client).password, password);
    QVERIFY(enabled(*client.form, "onlineMidiRefreshBtn"));

    // The same address again: the service refuses it and the dialog stays open.
    client.seams.prompts.shown.clear();
    driver.on("signupForm", [&](QWidget& signup) {
        type(signup, "emailEdit", "new@example.org");
        click(signup, "submitBitBtn");
        QVERIFY(signup.isVisible());
        signup.close();
    });
    client.form->menuSetupSignupClick();
    QCOMPARE(texts(client.seams.prompts),
             std::vector<std::string>{"This user ID is already in use."});
    QCOMPARE(storedCredentials(client).password, password); // the password stays
}

void AccountTest::newPasswordIsRequestedThenEntered() {
    test::ClientOnService client(nullptr);
    client.start();
    test::ModalDriver driver;
    std::string mailed;
    driver.on("enterPwdForm", [&](QWidget& enter) {
        // The current password is not shown: the line opens empty.
        QVERIFY(child<QLineEdit>(enter, "passwordEdit").text().isEmpty());
        mailed = client.service->mailedPassword();
        type(enter, "passwordEdit", "  " + mailed + "\t");
        click(enter, "saveBitBtn");
    });
    // No sends nothing; Yes asks for a new password and leads into entering it.
    client.seams.prompts.answers = {PromptAnswer::no};
    client.form->menuSetupRequestPasswordClick();
    QVERIFY(driver.seen.isEmpty());
    client.seams.prompts.answers = {PromptAnswer::yes};
    client.form->menuSetupRequestPasswordClick();
    QCOMPARE(driver.seen, QStringList{"enterPwdForm"});
    QCOMPARE(client.seams.prompts.shown[1].text,
             "Invalidate current password and e-mail replacement to\n\n" + client.user);
    QVERIFY(client.seams.prompts.shown[2].text.starts_with("Your new password has been mailed to"));
    QVERIFY(mailed != client.password);
    QCOMPARE(client.form->state.password, mailed);
    QCOMPARE(storedCredentials(client).password, mailed);

    // The new password works.
    client.seams.prompts.shown.clear();
    client.form->menuFundsViewClick();
    QCOMPARE(texts(client.seams.prompts), std::vector<std::string>{"Funds in account: 5.00"});
}

void AccountTest::networkSettingsAndFolders() {
    test::ClientOnService client(nullptr);
    client.start();
    TNet& net = *client.form->state.net;
    QCOMPARE(net.timeout, 60000);
    QCOMPARE(client.form->state.testURL, "http://" + client.service->host() + "/");
    test::ModalDriver driver;
    driver.on("internetSetupForm", [&](QWidget& setup) {
        type(setup, "serverEdit", "proxy.example.com");
        type(setup, "portEdit", "3128");
        child<QPlainTextEdit>(setup, "bypassMemo")
            .setPlainText(" *.localhost \n\n10.0.0.1\n<local>");
        child<QSpinBox>(setup, "timeOutUpDown").setValue(30);
        child<QSpinBox>(setup, "attemptsUpDown").setValue(3);
        click(setup, "okBtn");
    });
    client.form->menuSetupNetworkClick();
    QCOMPARE(net.proxyBypass, std::string("*.localhost,10.0.0.1,<local>"));
    {
        const TPortableIniFile ini(client.folder.file("tonvert.INI"));
        QCOMPARE(ini.readString("Proxy", "Server", ""), std::string("proxy.example.com"));
        QCOMPARE(ini.readInteger("Connect", "Timeout", 0), 30000);
        std::vector<std::string> bypass;
        ini.readSectionValues("ProxyBypass", bypass);
        QCOMPARE(bypass, (std::vector<std::string>{"1=*.localhost", "2=10.0.0.1", "3=<local>"}));
    }
    // Read back at the next start, before any request.
    client.form.reset();
    client.start();
    const TNet& again = *client.form->state.net;
    QCOMPARE(again.proxyServer, std::string("proxy.example.com"));
    QCOMPARE(int(again.proxyPort), 3128);
    QCOMPARE(int(again.attempts), 3);
    QCOMPARE(again.timeout, 30000);
    QCOMPARE(again.proxyBypass, std::string("*.localhost,10.0.0.1,<local>"));

    // Folders: a new one is listed; the same one, with or without its separator, is not
    // listed again; one with a line break is refused with a message.
    const std::string other = client.folder.file("Other");
    std::filesystem::create_directories(other);
    test::writeBytes(other + "/Tune.mid", "MThd");
    client.seams.shell.chosenFolder = other;
    client.form->menuSetupMidiFolderClick();
    QCOMPARE(client.form->state.midiFolder, other + "/");
    QCOMPARE(client.form->localMidiPane().model().rowCount(), 1);
    test::writeBytes(other + "/Later.mid", "MThd");
    client.seams.shell.chosenFolder = other + "/";
    client.form->menuSetupMidiFolderClick();
    QCOMPARE(client.form->localMidiPane().model().rowCount(), 1);
    client.seams.shell.chosenFolder = other + "\nline";
    client.form->menuSetupAudioFolderClick();
    QCOMPARE(client.seams.shell.folderTitles.back(), std::string("Select local audio folder"));
    QCOMPARE(client.form->state.audioFolder, client.folder.file("Audio/"));
    QCOMPARE(client.seams.prompts.shown.size(), std::size_t(1));
    QVERIFY(client.seams.prompts.shown[0].text.find("line break") != std::string::npos);
}

void AccountTest::fundsAndFeesInTheUsersNumbers() {
    test::ClientOnService client(nullptr);
    client.start();
    QMenu& funds = child<QMenu>(*client.form, "menuFunds");
    emit funds.aboutToShow();
    QVERIFY(itemEnabled(*client.form, "menuFundsView"));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
    for (const char* name : {"C", "de_DE"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        client.seams.prompts.shown.clear();
        client.form->menuFundsViewClick();
        client.form->menuFundsFeesClick();
        const bool comma = QLocale().decimalPoint() == QLatin1String(",");
        const auto money = [comma](std::string text) {
            if (comma)
                std::replace(text.begin(), text.end(), '.', ',');
            return text;
        };
        QCOMPARE(texts(client.seams.prompts),
                 (std::vector<std::string>{money("Funds in account: 5.00"),
                                           money("MIDI file upload: 0.05 + 0.10 / MB\n\n"
                                                 "Audio file download: 0.02 + 0.03 / MB")}));
    }
    client.form->menuFundsAddClick();
    client.form->menuHelpWebClick();
    QCOMPARE(client.seams.shell.openedUrls,
             (std::vector<std::string>{"http://" + client.service->host() + "/addfunds.html",
                                       "http://" + client.service->host() + "/"}));

    // Without a password there is no account to ask about.
    client.form->state.password.clear();
    emit funds.aboutToShow();
    QVERIFY(!itemEnabled(*client.form, "menuFundsAdd") &&
            !itemEnabled(*client.form, "menuFundsView") &&
            !itemEnabled(*client.form, "menuFundsFees"));
}

void AccountTest::noSecondRequestWhileOneWaits() {
    test::ClientOnService client(nullptr);
    // A service that holds its answers until the test has looked, and counts the requests.
    test::HttpTestServer slow;
    std::atomic<bool> release{false};
    std::atomic<int> requests{0};
    slow.server.Get("/cgi-bin/wmn.pl", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        res.set_content("!VAL 0\r\n", "text/plain");
    });
    slow.start();
    std::filesystem::copy_file(TONVERT_SAMPLES "/Scale.mid", client.folder.file("MIDI/Scale.mid"));
    client.start();
    client.form->state.service.host = "slow.localhost:" + std::to_string(slow.port());
    QWidget& form = *client.form;
    client.form->localMidiPane().list().selectRows({0});
    QVERIFY(enabled(form, "midiUploadBtn"));
    bool looked = false;
    QTimer::singleShot(50, &form, [&] {
        emit child<QMenu>(form, "menuFunds").aboutToShow();
        emit child<QMenu>(form, "menuSetup").aboutToShow();
        QVERIFY(!enabled(form, "onlineMidiRefreshBtn") && !enabled(form, "onlineAudioRefreshBtn"));
        QVERIFY(!enabled(form, "midiUploadBtn"));
        QVERIFY(!itemEnabled(form, "menuFundsView") && !itemEnabled(form, "menuFundsFees"));
        QVERIFY(!itemEnabled(form, "menuSetupSignup") &&
                !itemEnabled(form, "menuSetupRequestPassword") &&
                !itemEnabled(form, "menuSetupNetwork"));
        QVERIFY(itemEnabled(form, "menuFundsAdd")); // a page in the browser, no request
        // What the user can still reach sends nothing.
        child<QAbstractButton>(form, "onlineAudioRefreshBtn").click();
        QTest::keyClick(&client.form->onlineAudioPane().list(), Qt::Key_R, Qt::ControlModifier);
        looked = true;
        release = true;
    });
    client.form->refreshOnlineMidiList(false);
    QVERIFY(looked);
    QCOMPARE(requests.load(), 1);
    emit child<QMenu>(form, "menuFunds").aboutToShow();
    QVERIFY(enabled(form, "onlineMidiRefreshBtn") && itemEnabled(form, "menuFundsView"));
    QVERIFY(enabled(form, "midiUploadBtn"));
    QVERIFY(client.seams.prompts.shown.empty());
}

// A password shows as dots until "Show" is ticked; a disabled "Create account" tells what it
// waits for.
void AccountTest::passwordsShowDotsAndSignupSaysWhy() {
    TconfirmForm confirm(nullptr);
    TenterPwdForm enter(nullptr);
    for (QWidget* form : {static_cast<QWidget*>(&confirm), static_cast<QWidget*>(&enter)})
        for (const auto mode : {QLineEdit::Password, QLineEdit::Normal, QLineEdit::Password}) {
            QCOMPARE(child<QLineEdit>(*form, "passwordEdit").echoMode(), mode);
            child<QAbstractButton>(*form, "showPasswordCheckBox").click();
        }
    TsignupForm signup(nullptr);
    for (const auto& [typed, hint] :
         {std::pair{"", "Enter your e-mail address"},
          {"x@y.zz", ""},
          {"name", "An e-mail address has an \"@\" in it"},
          {"x@y@y.zz", "An e-mail address has only one \"@\""},
          {"x@y.z", "Enter the whole domain after the \"@\", such as example.org"}}) {
        type(signup, "emailEdit", typed);
        QCOMPARE(child<QAbstractButton>(signup, "submitBitBtn").toolTip(), QString(hint));
        QCOMPARE(child<QAbstractButton>(signup, "submitBitBtn").isEnabled(), *hint == 0);
    }
}

QTEST_MAIN(AccountTest)
#include "accountTest.moc"
