#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <memory>
#include <tuple>
#include <utility>

#include "ListViewXPSafe.h"
#include "aboutUnit.h"
#include "closeOnSignals.h"
#include "credentials.h"
#include "localPane.h"
#include "mainUnit.h"
#include "menuItemPath.h"
#include "onlinePane.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "testFiles.h"

using namespace tonvert;

namespace {

// Closes every about box as soon as it shows, noting where it stood and what the panes held
// by then. While the splash is up it also re-activates the main window, which must not start
// the first-activation sequence again.
class SplashCloser : public QObject {
public:
    explicit SplashCloser(TmainForm& form)
        : form_(form) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* about = qobject_cast<TaboutForm*>(modal);
            if (modal != nullptr && about == nullptr) {
                // The account command that follows the splash: noted and closed.
                accountDialogs << modal->objectName();
                modal->close();
                return;
            }
            if (about == nullptr)
                return;
            splashPositions << about->pos();
            panesAtSplash << QString::number(form_.localMidiPane().model().rowCount()) + " " +
                                 QString::number(form_.localAudioPane().model().rowCount()) + " " +
                                 form_.onlineMidiPane().infoPanel().text() + " " +
                                 form_.onlineAudioPane().infoPanel().text();
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(&form_, &activate);
            form_.FormActivate();
            about->close();
        });
        timer_.start(10);
    }
    QList<QPoint> splashPositions;
    QStringList panesAtSplash;
    QStringList accountDialogs;

private:
    TmainForm& form_;
    QTimer timer_;
};

struct Fixture {
    test::TempFolder folder;
    std::string programPath = folder.file("tonvert");
    std::string settingsPath = folder.file("tonvert.INI");
    test::TestSeams seams;

    std::unique_ptr<TmainForm> start() {
        auto form = std::make_unique<TmainForm>(programPath, seams.seams());
        closer = std::make_unique<SplashCloser>(*form);
        form->show();
        return form;
    }
    std::unique_ptr<SplashCloser> closer;

    // The lists of the last refresh, shown at the start.
    void writeOnlineLists(const std::string& midi, const std::string& audio) {
        std::filesystem::create_directories(folder.file("Temp"));
        test::writeBytes(folder.file("Temp/MidiList.TXT"), "46000.5\n" + midi);
        test::writeBytes(folder.file("Temp/AudioList.TXT"), "46000.5\n" + audio);
    }
};

template <typename T> T* child(QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qWarning("missing %s", name);
    return found;
}

// The first pane's part of what the splitter's two panes share.
double share(QWidget& form, const char* splitter) {
    const QList<int> sizes = child<QSplitter>(form, splitter)->sizes();
    return static_cast<double>(sizes.value(0)) / (sizes.value(0) + sizes.value(1));
}

QStringList itemNames(QMenu* menu) {
    QStringList names;
    for (QAction* action : menu->actions())
        names << action->objectName() + "=" + action->text();
    return names;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void firstStartWithoutSettings();
    void panesAndMenus();
    void layoutIsStoredAndRestored();
    void maximisedCloseKeepsStoredBounds();
    void firstActivationRunsOnce();
    void paneCaptionsTakeTheFocusToTheirLists();
    void storedCredentialsChooseTheAccountCommand();
    void menuItemPaths();
    void signalsCloseAsTheCloseBoxDoes();
    void panesShareTheWindow();
    void sortsAndAutoDownloadAreKept();
};

void MainWindowTest::firstStartWithoutSettings() {
    Fixture fixture;
    auto form = fixture.start();
    QCOMPARE(form->windowTitle(), QStringLiteral("Tonvert"));
    QCOMPARE(form->pos(), QPoint(0, 0));
    QCOMPARE(form->size(), QSize(561, 375));
    QCOMPARE(form->state.midiFolder, fixture.folder.file("MIDI/"));
    QCOMPARE(form->state.audioFolder, fixture.folder.file("Audio/"));
    QCOMPARE(form->state.tempFolder, fixture.folder.file("Temp/"));
    QCOMPARE(form->paths().settingsFile, fixture.settingsPath);
    QCOMPARE(form->paths().helpFile, fixture.folder.file("tonvert.CHM"));
    QCOMPARE(form->state.service.host, std::string("tonvert.localhost:8080"));
    QVERIFY(form->state.userID.empty() && form->state.password.empty());
    QCOMPARE(accountCommandFor(form->state), StartupAccountCommand::signup);

    QTRY_VERIFY(form->startupDone());
    QCOMPARE(fixture.closer->accountDialogs, QStringList{"signupForm"});
    QCOMPARE(fixture.closer->splashPositions.size(), 1);

    // The splash stood centred over the window, and nothing was created on disk.
    const QRect owner = form->frameGeometry();
    QCOMPARE(fixture.closer->splashPositions.value(0),
             QPoint(owner.x() + (owner.width() - 423) / 2, owner.y() + (owner.height() - 146) / 2));
    QVERIFY(!QFile::exists(QString::fromStdString(fixture.folder.file("MIDI"))));
    QVERIFY(!QFile::exists(QString::fromStdString(fixture.settingsPath)));
}

void MainWindowTest::panesAndMenus() {
    Fixture fixture;
    TmainForm form(fixture.programPath, fixture.seams.seams());

    struct Button {
        const char* name;
        const char* hint;
        bool enabled;
    };
    for (const Button& b : {
             // Without credentials there is nobody to ask the service for.
             Button{"onlineMidiRefreshBtn", "Refresh list of MIDI files on server", false},
             Button{"onlineMidiDeleteBtn", "Delete selected MIDI files from server", false},
             Button{"onlineAudioRefreshBtn", "Refresh list of audio files on server", false},
             Button{"onlineAudioDeleteBtn", "Delete selected audio files from server", false},
             Button{"localMidiRefreshBtn", "Refresh list of files in local MIDI folder", true},
             Button{"localMidiPlayBtn", "Play selected file in local MIDI folder", false},
             Button{"localMidiDeleteBtn", "Delete selected files from local MIDI folder", false},
             Button{"localAudioRefreshBtn", "Refresh list of files in local audio folder", true},
             Button{"localAudioPlayBtn", "Play selected file in local audio folder", false},
             Button{"localAudioDeleteBtn", "Delete selected files from local audio folder", false},
         }) {
        auto* button = child<QToolButton>(form, b.name);
        QVERIFY(button);
        QCOMPARE(button->toolTip(), QString::fromLatin1(b.hint));
        QCOMPARE(button->isEnabled(), b.enabled);
        QCOMPARE(button->size(), QSize(23, 22));
    }
    QCOMPARE(child<QPushButton>(form, "audioDownloadBtn")->text(),
             QStringLiteral("Download audio"));
    QCOMPARE(child<QPushButton>(form, "midiUploadBtn")->text(), QStringLiteral("Upload MIDI"));
    for (const char* info : {"onlineMidiInfoPanel", "onlineAudioInfoPanel"})
        QCOMPARE(child<QLabel>(form, info)->text(), QStringLiteral("No data"));
    // Each pane's caption leads the keyboard to its list.
    for (const auto& [label, caption, list] :
         {std::tuple{"onlineMidiLabel", "&MIDI files online", "onlineMidiListView"},
          std::tuple{"onlineAudioLabel", "&Audio files online", "onlineAudioListView"},
          std::tuple{"localMidiLabel", "&Local MIDI files", "localMidiListView"},
          std::tuple{"localAudioLabel", "Local a&udio files", "localAudioListView"}}) {
        QCOMPARE(child<QLabel>(form, label)->text(), QString::fromLatin1(caption));
        QCOMPARE(child<QLabel>(form, label)->buddy(), child<TListViewXPSafe>(form, list));
    }

    struct Columns {
        const char* list;
        QStringList captions;
        QList<int> widths;
        int rightAligned;
    };
    for (const Columns& c : {
             Columns{"onlineMidiListView", {"Name", "Type"}, {222, 50}, -1},
             Columns{"onlineAudioListView", {"Name", "Type", "Size"}, {150, 50, 72}, 2},
             Columns{
                 "localMidiListView", {"Name", "Type", "Playtime", "Size"}, {100, 50, 60, 62}, 3},
             Columns{"localAudioListView", {"Name", "Type", "Size"}, {150, 50, 72}, 2},
         }) {
        auto* list = child<TListViewXPSafe>(form, c.list);
        QVERIFY(list);
        QCOMPARE(list->model()->columnCount(), c.captions.size());
        for (int i = 0; i < c.captions.size(); ++i) {
            QCOMPARE(list->model()->headerData(i, Qt::Horizontal).toString(), c.captions[i]);
            // No caption is cut in the font in use.
            QVERIFY(list->header()->sectionSize(i) >=
                    std::max(c.widths[i], list->header()->sectionSizeHint(i)));
            QCOMPARE(list->columnAlignment(i) == Qt::AlignRight, i == c.rightAligned);
        }
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(list->tag, 0);
    }

    QStringList menus;
    for (QAction* top : form.menuBar()->actions())
        menus << top->objectName() + "=" + top->text();
    QCOMPARE(menus, (QStringList{"menuSetup=&Setup", "menuFunds=&Funds", "menuHelp=&Help"}));
    QCOMPARE(itemNames(child<QMenu>(form, "menuFunds")),
             (QStringList{"menuFundsAdd=&Add", "menuFundsView=&View",
                          "menuFundsSeparator=", "menuFundsFees=&Fees"}));
    QCOMPARE(child<QMenu>(form, "menuSetup")->actions().size(), 12);
    QCOMPARE(itemNames(child<QMenu>(form, "menuSetup")).mid(10),
             (QStringList{"menuSetupSeparator4=",
                          "menuSetupAutoDownload=&Download finished audio automatically"}));
    QCOMPARE(child<QAction>(form, "menuSetupAudioFolder")->text(), QStringLiteral("&Audio folder"));
    QCOMPARE(
        itemNames(child<QMenu>(form, "localMidiListPopupMenu")),
        (QStringList{"localMidiListPopupMenuRefresh=&Refresh", "localMidiListPopupMenuSeparator1=",
                     "localMidiListPopupMenuPlay=&Play", "localMidiListPopupMenuUpload=&Upload",
                     "localMidiListPopupMenuSeparator2=", "localMidiListPopupMenuCopy=&Copy",
                     "localMidiListPopupMenuDelete=&Delete",
                     "localMidiListPopupMenuSeparator3=", "localMidiListPopupMenuFolder=&Folder"}));
    QCOMPARE(itemNames(child<QMenu>(form, "onlineMidiListPopupMenu")),
             (QStringList{
                 "onlineMidiListPopupMenuRefresh=&Refresh",
                 "onlineMidiListPopupMenuSeparator=", "onlineMidiListPopupMenuDelete=&Delete"}));
    QCOMPARE(child<QAction>(form, "onlineAudioListPopupMenuDownload")->text(),
             QStringLiteral("D&ownload"));
    QCOMPARE(child<QMenu>(form, "localAudioListPopupMenu")->actions().size(), 8);
}

void MainWindowTest::layoutIsStoredAndRestored() {
    Fixture fixture;
    {
        auto form = fixture.start();
        QTRY_VERIFY(form->startupDone());
        form->move(40, 30);
        form->resize(700, 500);
        child<QSplitter>(*form, "basePanelSplitter")->setSizes({200, 250});
        child<QSplitter>(*form, "onlineMidiAudioSplitter")->setSizes({300, 380});
        child<QSplitter>(*form, "localMidiAudioSplitter")->setSizes({250, 430});
        child<TListViewXPSafe>(*form, "localMidiListView")->header()->resizeSection(2, 77);
        child<TListViewXPSafe>(*form, "onlineAudioListView")->header()->resizeSection(0, 99);
        form->state.midiFolder = "/music/midi";
        form->close();
    }
    TPortableIniFile ini(fixture.settingsPath);
    QCOMPARE(ini.readInteger("MainWindow", "WindowState", -1), 0);
    QCOMPARE(ini.readInteger("MainWindow", "Left", -1), 40);
    QCOMPARE(ini.readInteger("MainWindow", "Width", -1), 700);
    QCOMPARE(ini.readInteger("MainWindow", "Height", -1), 500);
    QCOMPARE(ini.readInteger("LocalMidiListView", "PlayTimeWidth", -1), 77);
    QCOMPARE(ini.readInteger("OnlineAudioListView", "NameWidth", -1), 99);
    // The last column takes what is left of the list's width.
    QVERIFY(ini.readInteger("OnlineMidiListView", "TypeWidth", -1) >= 50);
    // The service's section is written back, so a user finds where its host is set.
    QCOMPARE(ini.readString("Service", "Host", ""), std::string("tonvert.localhost:8080"));
    QCOMPARE(ini.readString("Service", "SupportEmail", ""),
             std::string("support@tonvert.localhost"));
    const int topHeight = ini.readInteger("MainWindow", "TopPanelHeight", -1);
    QVERIFY(topHeight > 145);
    std::vector<std::string> order;
    for (const auto& section : ini.sections())
        order.push_back(section->name);
    QCOMPARE(order, (std::vector<std::string>{"Directories", "Service", "MainWindow",
                                              "OnlineMidiListView", "LocalMidiListView",
                                              "OnlineAudioListView", "LocalAudioListView"}));

    auto again = fixture.start();
    QTRY_VERIFY(again->startupDone());
    QCOMPARE(again->pos(), QPoint(40, 30));
    QCOMPARE(again->size(), QSize(700, 500));
    // A folder without its separator gets it: file names are appended to it directly.
    QCOMPARE(again->state.midiFolder, std::string("/music/midi/"));
    QCOMPARE(child<QWidget>(*again, "topPanel")->height(), topHeight);
    QCOMPARE(child<QWidget>(*again, "onlineMidiPanel")->width(),
             ini.readInteger("MainWindow", "OnlineMidiPanelWidth", -1));
    QCOMPARE(child<QWidget>(*again, "localMidiPanel")->width(),
             ini.readInteger("MainWindow", "LocalMidiPanelWidth", -1));
    QCOMPARE(child<TListViewXPSafe>(*again, "localMidiListView")->header()->sectionSize(2), 77);
    QCOMPARE(child<TListViewXPSafe>(*again, "onlineAudioListView")->header()->sectionSize(0), 99);
    // Kept with the lengths they are part of, the sizes keep their proportions at any size of
    // the window; an older file without the lengths counts in the window it restores.
    const int panelsHeight = ini.readInteger("MainWindow", "PanelsHeight", -1);
    again->close();
    for (const auto& [file, top] :
         {std::pair{std::string(), double(topHeight) / panelsHeight},
          {"[MainWindow]\r\nWidth=700\r\nHeight=500\r\nTopPanelHeight=120\r\n",
           120.0 / panelsHeight}}) {
        if (!file.empty())
            test::writeBytes(fixture.settingsPath, file);
        auto form = fixture.start();
        QTRY_VERIFY(form->startupDone());
        form->resize(1200, 900);
        QVERIFY(qAbs(share(*form, "basePanelSplitter") - top) < 0.01);
    }
}

void MainWindowTest::maximisedCloseKeepsStoredBounds() {
    Fixture fixture;
    test::writeBytes(fixture.settingsPath,
                     "[MainWindow]\r\nLeft=20\r\nTop=10\r\nWidth=640\r\nHeight=420\r\n");
    {
        auto form = fixture.start();
        QTRY_VERIFY(form->startupDone());
        form->showMaximized();
        QTRY_VERIFY(form->isMaximized());
        form->close();
    }
    {
        TPortableIniFile ini(fixture.settingsPath);
        QCOMPARE(ini.readInteger("MainWindow", "WindowState", -1), 2);
        QCOMPARE(ini.readInteger("MainWindow", "Left", -1), 20);
        QCOMPARE(ini.readInteger("MainWindow", "Top", -1), 10);
        QCOMPARE(ini.readInteger("MainWindow", "Width", -1), 640);
        QCOMPARE(ini.readInteger("MainWindow", "Height", -1), 420);
    }
    // The next start is maximised and returns to the stored bounds when restored.
    auto again = fixture.start();
    QTRY_VERIFY(again->isMaximized());
    QCOMPARE(again->normalGeometry().size(), QSize(640, 420));
    again->showNormal();
    QTRY_COMPARE(again->size(), QSize(640, 420));
}

void MainWindowTest::firstActivationRunsOnce() {
    Fixture fixture;
    auto form = fixture.start();
    QTRY_VERIFY(form->startupDone());
    QCOMPARE(fixture.closer->splashPositions.size(), 1);

    // Switching away and back, or an explicit activation, does nothing any more: a file
    // that appears meanwhile stays unlisted.
    std::filesystem::create_directories(form->state.midiFolder);
    test::writeBytes(form->state.midiFolder + "late.mid", "MThd");
    QEvent deactivate(QEvent::WindowDeactivate), activate(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &deactivate);
    QApplication::sendEvent(form.get(), &activate);
    form->FormActivate();
    QTest::qWait(50);
    QCOMPARE(fixture.closer->splashPositions.size(), 1);
    QCOMPARE(form->localMidiPane().model().rowCount(), 0);
}

void MainWindowTest::paneCaptionsTakeTheFocusToTheirLists() {
    Fixture fixture;
    const auto form = fixture.start();
    // The splash and the sign-up dialog first, as the closer closes them.
    QTRY_COMPARE(fixture.closer->accountDialogs, QStringList{"signupForm"});
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    for (const auto& [key, list] :
         {std::pair{Qt::Key_L, "localMidiListView"}, std::pair{Qt::Key_U, "localAudioListView"},
          std::pair{Qt::Key_M, "onlineMidiListView"},
          std::pair{Qt::Key_A, "onlineAudioListView"}}) {
        QTest::keyClick(form.get(), key, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), child<TListViewXPSafe>(*form, list));
    }
    // The menus keep their own letters.
    QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(child<QMenu>(*form, "menuFunds")->isVisible());
    child<QMenu>(*form, "menuFunds")->close();
}

void MainWindowTest::storedCredentialsChooseTheAccountCommand() {
    Fixture fixture;
    const auto store = [&](const Credentials& credentials) {
        TPortableIniFile ini(fixture.settingsPath);
        writeCredentials(ini, credentials);
    };

    store({"user@example.org", ""});
    auto confirm = fixture.start();
    QCOMPARE(confirm->state.userID, std::string("user@example.org"));
    QCOMPARE(accountCommandFor(confirm->state), StartupAccountCommand::confirm);
    QTRY_VERIFY(confirm->startupDone());
    QCOMPARE(fixture.closer->accountDialogs, QStringList{"confirmForm"});
    confirm.reset();

    // The panes are filled, the local ones from the folders and the online ones from the
    // last lists, before the splash shows.
    store({"user@example.org", "secret"});
    std::filesystem::create_directories(fixture.folder.file("MIDI"));
    std::filesystem::create_directories(fixture.folder.file("Temp"));
    test::writeBytes(fixture.folder.file("MIDI/a.mid"), "not timed");
    test::writeBytes(fixture.folder.file("Temp/MidiList.TXT"), "46000.5\n!VAL 1\n7\tA.mid\tx\n");
    auto none = fixture.start();
    QCOMPARE(none->state.password, std::string("secret"));
    QCOMPARE(accountCommandFor(none->state), StartupAccountCommand::none);
    QTRY_VERIFY(none->startupDone());
    QCOMPARE(fixture.closer->accountDialogs, QStringList{});
    QCOMPARE(fixture.closer->panesAtSplash.size(), 1);
    QVERIFY(fixture.closer->panesAtSplash[0].startsWith("1 0 1 file ["));
    QVERIFY(fixture.closer->panesAtSplash[0].endsWith("] No data"));

    // A credential that is not hexadecimal reads as absent; the other settings still load.
    test::writeBytes(fixture.settingsPath,
                     "[Account]\r\nUserID=XYZ\r\n[Directories]\r\n"
                     "Midi=/elsewhere/\r\n[Service]\r\nHost=example.localhost:9\r\n");
    none.reset();
    auto broken = fixture.start();
    QCOMPARE(broken->state.userID, std::string());
    QCOMPARE(broken->state.midiFolder, std::string("/elsewhere/"));
    QCOMPARE(broken->state.service.host, std::string("example.localhost:9"));
    QCOMPARE(accountCommandFor(broken->state), StartupAccountCommand::signup);
    QTRY_VERIFY(broken->startupDone());
}

void MainWindowTest::menuItemPaths() {
    Fixture fixture;
    TmainForm form(fixture.programPath, fixture.seams.seams());
    QCOMPARE(menuItemPath(child<QAction>(form, "menuSetupSignup")),
             QStringLiteral("Setup > Sign up"));
    QCOMPARE(menuItemPath(child<QAction>(form, "menuSetupMidiFolder")),
             QStringLiteral("Setup > MIDI folder"));
    // A popup menu is the root of its items.
    QCOMPARE(menuItemPath(child<QAction>(form, "onlineAudioListPopupMenuDownload")),
             QStringLiteral("Download"));

    // Nested menus join outermost first; "&&" stays as one ampersand.
    QMenu outer(QStringLiteral("&Outer"));
    QMenu* inner = outer.addMenu(QStringLiteral("In&ner && more"));
    QAction* item = inner->addAction(QStringLiteral("&Item"));
    QMenuBar bar;
    bar.addMenu(&outer);
    QCOMPARE(menuItemPath(item), QStringLiteral("Outer > Inner & more > Item"));
    QCOMPARE(withoutAccelerators(QStringLiteral("a&")), QStringLiteral("a"));
}

// A logout, Ctrl+C or a kill closes the window as its close box does, so its layout is kept.
void MainWindowTest::signalsCloseAsTheCloseBoxDoes() {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Fixture fixture;
        auto form = fixture.start();
        QTRY_VERIFY(form->startupDone());
        form->move(70 + signal, 40);
        const CloseOnSignals closer([&form] { form->close(); });
        ::raise(signal);
        QTRY_VERIFY(!form->isVisible());
        const TPortableIniFile ini(fixture.settingsPath);
        QCOMPARE(ini.readInteger("MainWindow", "Left", -1), 70 + signal);
    }

    // A message in the way closes as its close box would, and so does the one its answer
    // leads to; then the window closes and keeps its layout.
    Fixture fixture;
    auto form = fixture.start();
    QTRY_VERIFY(form->startupDone());
    form->move(90, 50);
    const CloseOnSignals closer([&form] { form->close(); });
    const auto openMessage = [&form](QMessageBox::StandardButtons buttons) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Go on?"),
                        buttons, form.get());
        // Should the signal not close it, the test fails rather than waits for ever.
        QTimer::singleShot(5000, &box, [&box] { box.done(-77); });
        return box.exec();
    };
    QTimer::singleShot(50, [] { ::raise(SIGTERM); });
    QVERIFY(openMessage(QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort) != -77);
    QVERIFY(openMessage(QMessageBox::Yes | QMessageBox::No) != -77);
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(TPortableIniFile(fixture.settingsPath).readInteger("MainWindow", "Left", -1), 90);
}

// On a first start the halves and the columns share alike at any size of the window.
void MainWindowTest::panesShareTheWindow() {
    Fixture fixture;
    fixture.writeOnlineLists("!VAL 1\n1\tA.mid\tx\n", "!VAL \t1\nA.mp3\t1\n");
    auto form = fixture.start();
    QTRY_VERIFY(form->startupDone());
    // The size, and the rows each online list has room for at least: a maximised window on
    // a 1920 x 1080 screen shows twenty.
    for (const auto& [size, rows] : {std::pair{QSize(1000, 700), 12}, {QSize(1920, 1010), 20}}) {
        form->resize(size);
        for (const char* splitter :
             {"basePanelSplitter", "onlineMidiAudioSplitter", "localMidiAudioSplitter"})
            QVERIFY(qAbs(share(*form, splitter) - 0.5) < 0.01);
        for (const char* name : {"onlineMidiListView", "onlineAudioListView"}) {
            const auto* list = child<TListViewXPSafe>(*form, name);
            QVERIFY(list->viewport()->height() / list->sizeHintForRow(0) >= rows);
        }
    }
}

// Each list's sort order is kept with its column widths and restored once its rows are there;
// the Setup menu's automatic download is kept as soon as it is switched.
void MainWindowTest::sortsAndAutoDownloadAreKept() {
    Fixture fixture;
    fixture.writeOnlineLists("!VAL 3\n1\tB.mid\tx\n2\tC.mid\tx\n3\tA.mid\tx\n",
                             "!VAL \t3\nB.mp3\t2\nC.mp3\t1\nA.mp3\t3\n");
    std::filesystem::create_directories(fixture.folder.file("MIDI"));
    for (const auto& [name, size] : {std::pair{"a.mid", 1}, {"b.mid", 3}, {"c.mid", 2}})
        test::writeBytes(fixture.folder.file("MIDI/") + name, std::string(size, 'x'));
    // The list, its section, the header clicks, the code kept, the first row after a restart.
    const std::tuple<const char*, const char*, QList<int>, int, std::string> lists[] = {
        {"onlineMidiListView", "OnlineMidiListView", {0, 0}, -1, "C.MID"},
        {"onlineAudioListView", "OnlineAudioListView", {2}, 3, "C.MP3"},
        {"localMidiListView", "LocalMidiListView", {0, 3, 3}, -4, "b.mid"}};
    {
        auto form = fixture.start();
        QTRY_VERIFY(form->startupDone());
        for (const auto& [name, section, clicks, code, first] : lists)
            for (const int column : clicks)
                emit child<TListViewXPSafe>(*form, name)->columnClicked(column);
        child<QAction>(*form, "menuSetupAutoDownload")->trigger();
        QVERIFY(form->state.autoDownload);
        QCOMPARE(TPortableIniFile(fixture.settingsPath)
                     .readInteger("MainWindow", "DownloadFinishedAudio", 0),
                 1);
        form->close();
    }
    auto again = fixture.start();
    QVERIFY(again->state.autoDownload &&
            child<QAction>(*again, "menuSetupAutoDownload")->isChecked());
    QTRY_VERIFY(again->startupDone());
    for (const auto& [name, section, clicks, code, first] : lists) {
        QCOMPARE(TPortableIniFile(fixture.settingsPath).readInteger(section, "SortColumn", 9),
                 code);
        auto* list = child<TListViewXPSafe>(*again, name);
        QCOMPARE(list->tag, code);
        QCOMPARE(static_cast<FileListModel*>(list->model())->row(0).fileName, first);
    }
    // Sorted once: an online list shown again comes as the service sent it.
    again->showOnlineMidiList(false);
    QCOMPARE(again->onlineMidiPane().model().row(0).fileName, std::string("B.MID"));
}

QTEST_MAIN(MainWindowTest)
#include "mainWindowTest.moc"
