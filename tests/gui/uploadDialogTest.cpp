#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "ListViewXPSafe.h"
#include "net/httpTestServer.h"
#include "netUnit.h"
#include "portableIniFiles.h"
#include "recordingSeams.h"
#include "testFiles.h"
#include "uploadUnit.h"

using namespace tonvert;
using Replies = std::map<std::string, std::string>;

namespace {

const std::string kLead = "An error occurred while uploading the file\n\n";
const std::vector<std::string> kFixedFields = {"UID=user@example.org", "PWD=secret", "LNG=us",
                                               "VER=1.0", "CMD=submitmidi"};

UploadJob timed(int seconds) {
    return {{}, {}, seconds};
}

// The service's script on loopback: keeps each request's parts in the order they came and
// answers "!VAL n", or the reply set for the file's name. The request for `hold` waits until
// released (ten seconds at most) before its answer goes out.
class ServiceStub {
public:
    struct Part {
        std::string name, filename, content;
    };
    using Request = std::vector<Part>;

    explicit ServiceStub(Replies replies = {}, std::string hold = {})
        : replies_(std::move(replies))
        , hold_(std::move(hold)) {
        http.server.Post("/cgi-bin/wmn.pl",
                         [this](const httplib::Request& request, httplib::Response& response,
                                const httplib::ContentReader& read) {
                             Request parts;
                             if (request.is_multipart_form_data())
                                 read(
                                     [&](const httplib::MultipartFormData& head) {
                                         parts.push_back({head.name, head.filename, {}});
                                         return true;
                                     },
                                     [&](const char* data, std::size_t size) {
                                         parts.back().content.append(data, size);
                                         return true;
                                     });
                             const std::string file = parts.empty() ? "" : parts.back().filename;
                             std::unique_lock lock(mutex_);
                             requests_.push_back(parts);
                             const auto reply = replies_.find(file);
                             response.set_content(reply != replies_.end()
                                                      ? reply->second
                                                      : "!VAL " + std::to_string(requests_.size()),
                                                  "text/plain");
                             holding_ = file == hold_;
                             released_.wait_for(lock, std::chrono::seconds(holding_ ? 10 : 0),
                                                [this] { return release_; });
                         });
        http.start();
    }
    ~ServiceStub() { release(); }

    int port() const { return http.port(); }
    std::vector<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    bool holding() const { return holding_; }
    void release() {
        std::lock_guard lock(mutex_);
        release_ = true;
        released_.notify_all();
    }

private:
    const Replies replies_;
    const std::string hold_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::atomic<bool> holding_{false};
    std::vector<Request> requests_;
    test::HttpTestServer http;
};

// What the main window hands the dialog: the service's host and a transfer object.
struct Client {
    explicit Client(int port = 1) {
        state.service.host = "upload.localhost:" + std::to_string(port);
        state.net = std::make_unique<TNet>(seams.connection, seams.pump);
    }
    test::TestSeams seams;
    MainState state;
};

template <class T = QWidget> T* child(const QObject& form, const char* name) {
    T* found = form.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no %s", name);
    return found;
}

TListViewXPSafe* listOf(const TuploadForm& form) {
    return child<TListViewXPSafe>(form, "optionsListView");
}
int rowCount(const TuploadForm& form) {
    return listOf(form)->model()->rowCount();
}
QString cell(const TuploadForm& form, int row, int column) {
    return listOf(form)->model()->index(row, column).data().toString();
}
// A row's texts, or a column's from top to bottom, joined by '|'.
QString rowText(const TuploadForm& form, int row) {
    QStringList texts;
    for (int column = 0; column < 5; ++column)
        texts << cell(form, row, column);
    return texts.join('|');
}
QString columnText(const TuploadForm& form, int column) {
    QStringList texts;
    for (int row = 0; row < rowCount(form); ++row)
        texts << cell(form, row, column);
    return texts.join('|');
}
QString estimate(const TuploadForm& form) {
    return child<QLabel>(form, "estimateStaticText")->text();
}
bool submitEnabled(const TuploadForm& form) {
    return child(form, "uploadBtn")->isEnabled();
}

// As the user's pick from the box's list arrives.
void pickFormat(TuploadForm& form, int index) {
    auto* box = child<QComboBox>(form, "fileFormatComboBox");
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void clickHeader(TuploadForm& form, int column) {
    QHeaderView* header = listOf(form)->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

// A dialog with MIDI files of the given names for the user's account, the 128 kbit/s MP3 row
// selected, and a service that answers as told.
struct UploadRun {
    UploadRun(const std::vector<std::string>& names, Replies replies = {}, std::string hold = {})
        : service(std::move(replies), std::move(hold))
        , client(service.port())
        , form(nullptr, client.state, client.seams.seams()) {
        UploadJob job{{client.state.service.host, "user@example.org", "secret"}, {}, 0};
        for (const auto& name : names) {
            job.midiFiles.push_back(folder.file(name));
            test::writeBytes(job.midiFiles.back(), "MThd" + name);
        }
        form.setJob(job);
        form.scrollToAndSelectItem(20);
    }

    // Shows the dialog modally, does `alsoOnStart` and clicks Submit once it is up; a guard
    // aborts and closes the dialog should the run hang.
    void run(const std::function<void()>& alsoOnStart = {}) {
        bool guarded = false;
        QTimer::singleShot(0, &form, [&] {
            if (alsoOnStart)
                alsoOnStart();
            QTest::mouseClick(child<QPushButton>(form, "uploadBtn"), Qt::LeftButton);
        });
        QTimer::singleShot(30000, &form, [&] {
            guarded = true;
            form.abortBtnClick();
            form.close();
        });
        form.exec();
        QVERIFY(!guarded);
        QVERIFY(!form.isVisible());
    }

    const std::vector<test::RecordingPrompts::Shown>& shown() const {
        return client.seams.prompts.shown;
    }

    ServiceStub service;
    Client client;
    test::TempFolder folder;
    TuploadForm form;
};

} // namespace

class UploadDialogTest : public QObject {
    Q_OBJECT
private slots:
    void presetTables();
    void sizeEstimate();
    void sorting();
    void settings();
    void scrollsTheSelectedRowIntoView();
    void threeFilesUploaded();
    void refusalsEndTheRun();
    void unsendableNamesNeverLeave();
    void abortDuringTransfer();
};

void UploadDialogTest::presetTables() {
    std::size_t all = formatPresets(-1).size() + formatPresets(kUploadFormatCount).size();
    for (int format = 0; format < kUploadFormatCount; ++format)
        all += formatPresets(format).size();
    QCOMPARE(all, std::size_t(112));

    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    QCOMPARE(rowCount(form), 44);
    QVERIFY(!submitEnabled(form));
    QCOMPARE(listOf(form)->model()->index(0, 1).data(Qt::TextAlignmentRole).toInt() &
                 Qt::AlignHorizontal_Mask,
             int(Qt::AlignRight));
    struct Expected {
        int rows;
        const char *first, *last;
        int example;
        std::string parameters;
    };
    const Expected expected[] = {
        {44, "320|44 100|2|Y|Insane VBR stereo", "56|44 100|1|N|Lowest CBR mono", 0,
         "MP3,320,44100,V,2"},
        {40, "500|44 100|2|Y|10 (highest) - VBR stereo", "64|44 100|1|N|1 (lowest) - CBR mono", 39,
         "OGG,64,44100,C,1"},
        {22, "192|48 000|2||Highest (DAT-like)", "16|22 050|1||Lowest - mono", 0,
         "WMA,192,48000,C,2"},
        {6, "1 500|48 000|2|N|DAT - stereo", "352|22 050|1|N|FM - mono", 2, "WAV,1378,44100,C,2"},
    };
    for (int format = 0; format < kUploadFormatCount; ++format) {
        const Expected& e = expected[format];
        form.scrollToAndSelectItem(1);
        pickFormat(form, format);
        QCOMPARE(rowCount(form), e.rows);
        QCOMPARE(rowText(form, 0), QString::fromLatin1(e.first));
        QCOMPARE(rowText(form, e.rows - 1), QString::fromLatin1(e.last));
        // A refill leaves nothing selected.
        QVERIFY(!listOf(form)->hasSelection() && !submitEnabled(form));
        form.scrollToAndSelectItem(e.example);
        QCOMPARE(form.paramString(), e.parameters);
    }
    QCOMPARE(columnText(form, 0), QStringLiteral("1 500|750|1 378|689|703|352"));
    pickFormat(form, 0);
    QCOMPARE(rowText(form, 6), QStringLiteral("256|44 100|1|Y|Extreme VBR mono"));
    pickFormat(form, 2);
    QCOMPARE(rowText(form, 12), QStringLiteral("32|44 100|1||Medium low- (56k modem) - mono"));

    // Text typed into the box names no format.
    form.scrollToAndSelectItem(0);
    QVERIFY(submitEnabled(form));
    auto* box = child<QComboBox>(form, "fileFormatComboBox");
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), "FLAC");
    QCOMPARE(rowCount(form), 0);
    QVERIFY(!submitEnabled(form));
    QCOMPARE(estimate(form), QString());
}

void UploadDialogTest::sizeEstimate() {
    // Halves go to the even neighbour: 2.5, 7.5, 1.5 and 4.5.
    const std::pair<const char*, int> rates[] = {{"128", 205}, {"128", 0}, {"20", 1},
                                                 {"20", 3},    {"12", 1},  {"36", 1},
                                                 {"29", 1},    {"56", 1},  {"1 378", 3}};
    QStringList texts;
    for (const auto& [rate, seconds] : rates)
        texts << QString::fromStdString(estimateText(rate, seconds));
    QCOMPARE(texts.join(','), QStringLiteral("3280,0,2,8,2,4,4,7,517"));
    for (const char* notANumber : {"", " ", "abc", "12x", "1.5", "4000000000"})
        QCOMPARE(estimateText(notANumber, 10), std::string("?"));

    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    const std::tuple<int, int, int, const char*> cases[] = {
        {0, 20, 205, "3280"}, {0, 20, 0, "0"}, {2, 16, 1, "2"}, {2, 19, 3, "8"}, {0, 40, 1, "7"}};
    for (const auto& [format, row, seconds, text] : cases) {
        pickFormat(form, format);
        form.setJob(timed(seconds));
        form.scrollToAndSelectItem(row);
        QCOMPARE(estimate(form), QString::fromLatin1(text));
        QVERIFY(submitEnabled(form));
    }
    // A click on a row does the same; taking the selection away clears it.
    pickFormat(form, 3);
    form.show();
    TListViewXPSafe* list = listOf(form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), list);
    form.setJob(timed(8));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 4)).center());
    QCOMPARE(estimate(form), QStringLiteral("1500"));
    list->clearSelection();
    QCOMPARE(estimate(form), QString());
    QVERIFY(!submitEnabled(form));
}

void UploadDialogTest::sorting() {
    const OptionRow low{"56", "44 100", "1", "Y", "Lowest VBR mono"};
    const OptionRow high{"320", "48 000", "2", "N", "Insane CBR stereo"};
    std::string signs;
    for (const int code : {1, 2, 3, 4, 5, -1, -2, -3, -4, -5, 0, 6, -6})
        signs += compareOptionRows(low, high, code) < 0 ? '<' : '>';
    QCOMPARE(signs, std::string("<<<>>>>><<>>>"));
    QCOMPARE(
        compareOptionRows({"1", "", "", "", "cd - STEREO"}, {"2", "", "", "", "CD - stereo"}, 5),
        0);

    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.show();
    TListViewXPSafe* list = listOf(form);
    // The padding makes bit rates sort by value.
    pickFormat(form, 3);
    clickHeader(form, 0);
    QCOMPARE(columnText(form, 0), QStringLiteral("352|689|703|750|1 378|1 500"));

    // Hz ascending, then descending; rows with equal keys keep their order; the selection
    // follows its row.
    pickFormat(form, 2);
    form.scrollToAndSelectItem(5);
    clickHeader(form, 1);
    QCOMPARE(list->tag, 2);
    QCOMPARE(rowText(form, 0), QStringLiteral("32|22 050|2||Low- (multimedia)"));
    QCOMPARE(rowText(form, 21), QStringLiteral("128|48 000|2||High+"));
    clickHeader(form, 1);
    QCOMPARE(list->tag, -2);
    QCOMPARE(cell(form, 0, 4) + "/" + cell(form, 21, 4),
             QStringLiteral("Highest (DAT-like)/Lowest - mono"));
    QCOMPARE(form.paramString(), std::string("WMA,128,44100,C,2"));

    clickHeader(form, 4);
    QCOMPARE(list->tag, 5);
    QCOMPARE(columnText(form, 4),
             QStringLiteral("High (CD-like)|High+|High++|Highest (DAT-like)|Low (FM radio)|"
                            "Low (FM radio) - mono|Low- (multimedia)|Low--|Low---|Low--- mono|"
                            "Lowest - mono|Medium high|Medium high+ (near CD)|"
                            "Medium low (56k modem)|Medium low (56k modem) - mono|"
                            "Medium low- (56k modem)|Medium low- (56k modem) - mono|"
                            "Medium low--|Medium low---|Standard|Standard+|Standard++"));

    // A new format comes in table order with the code kept; the next click on that column
    // turns the order round.
    pickFormat(form, 0);
    QCOMPARE(cell(form, 0, 4), QStringLiteral("Insane VBR stereo"));
    clickHeader(form, 4);
    QCOMPARE(list->tag, -5);
    QCOMPARE(QStringList(columnText(form, 4).split('|').mid(0, 3)).join('|'),
             QStringLiteral("Very high VBR stereo|Very high VBR mono|Very high CBR stereo"));
    QCOMPARE(cell(form, 43, 4), QStringLiteral("Extreme CBR mono"));
}

void UploadDialogTest::settings() {
    test::TempFolder folder;
    const std::string path = folder.file("Tonvert.ini");
    Client client;
    const auto widths = [](const TuploadForm& form) {
        QList<int> result;
        for (int i = 0; i < 5; ++i)
            result << listOf(form)->header()->sectionSize(i);
        return result;
    };
    {
        // Missing keys leave everything as it was.
        TuploadForm form(nullptr, client.state, client.seams.seams());
        pickFormat(form, 2);
        form.loadSettings(folder.file("missing.ini"));
        QCOMPARE(form.size(), QSize(529, 300));
        // No caption is cut ("Bitrate (kbps)" above all); no column is narrower than designed.
        const QHeaderView* header = listOf(form)->header();
        for (const auto& [i, design] : {std::pair{0, 80}, {1, 50}, {2, 60}, {3, 40}, {4, 279}})
            QVERIFY(header->sectionSize(i) >= std::max(design, header->sectionSizeHint(i)));
        QCOMPARE(rowCount(form), 22);

        pickFormat(form, 1);
        form.scrollToAndSelectItem(39); // 1 (lowest) - CBR mono, third after the sort
        form.optionsListViewColumnClick(0);
        form.resize(600, 350);
        for (int i = 0; i < 5; ++i)
            listOf(form)->header()->resizeSection(i, 91 + i);
        form.saveSettings(path);
    }
    std::vector<std::string> lines;
    TPortableIniFile(path).readSectionValues("UploadWindow", lines);
    QCOMPARE(lines, (std::vector<std::string>{
                        "Width=600", "Height=350", "kbpsWidth=91", "hzWidth=92", "channelsWidth=93",
                        "vbrWidth=94", "qualityWidth=95", "formatIndex=1", "optionsIndex=3"}));
    {
        // The row at that position of the table as it first comes.
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.setJob(timed(16));
        form.loadSettings(path);
        QCOMPARE(form.size(), QSize(600, 350));
        QCOMPARE(widths(form), (QList<int>{91, 92, 93, 94, 95}));
        QCOMPARE(child<QComboBox>(form, "fileFormatComboBox")->currentText(), "OGG Vorbis ");
        QCOMPARE(listOf(form)->selectedRows(), std::vector<int>{3});
        QCOMPARE(rowText(form, 3), QStringLiteral("500|44 100|1|N|10 (highest) - CBR mono"));
        QCOMPARE(estimate(form), QStringLiteral("1000"));
        QVERIFY(submitEnabled(form));
    }
    // -1 selects nothing; a format off the list leaves the table empty.
    for (const auto& [format, option] : {std::pair{1, -1}, {4, 0}, {-2, 0}}) {
        {
            TPortableIniFile ini(path);
            ini.writeInteger("UploadWindow", "formatIndex", format);
            ini.writeInteger("UploadWindow", "optionsIndex", option);
        }
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.loadSettings(path);
        QCOMPARE(rowCount(form), format == 1 ? 40 : 0);
        QVERIFY(!listOf(form)->hasSelection() && !submitEnabled(form));
        QCOMPARE(estimate(form), QString());
        form.saveSettings(path);
        TPortableIniFile saved(path);
        QCOMPARE(saved.readInteger("UploadWindow", "formatIndex", 9), format == 1 ? 1 : -1);
        QCOMPARE(saved.readInteger("UploadWindow", "optionsIndex", 9), -1);
    }
}

void UploadDialogTest::scrollsTheSelectedRowIntoView() {
    test::TempFolder folder;
    const std::string path = folder.file("Tonvert.ini");
    TPortableIniFile(path).writeInteger("UploadWindow", "optionsIndex", 43);
    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.loadSettings(path);
    TListViewXPSafe* list = listOf(form);
    const auto shown = [&](int row) {
        return list->viewport()->rect().intersects(list->visualRect(list->model()->index(row, 0)));
    };
    form.show();
    QVERIFY(form.activated);
    QVERIFY(shown(43) && !shown(0));
    QCOMPARE(list->selectedRows(), std::vector<int>{43});
    form.scrollToAndSelectItem(0);
    QVERIFY(shown(0) && !shown(43));
    form.scrollToAndSelectItem(20);
    QVERIFY(shown(20));
    form.scrollToAndSelectItem(-1);
    form.scrollToAndSelectItem(44);
    QCOMPARE(list->selectedRows(), std::vector<int>{20});
}

void UploadDialogTest::threeFilesUploaded() {
    const std::vector<std::string> names = {"One.mid", "Two.mid", "Three.mid"};
    UploadRun upload(names);
    QList<int> bar;
    connect(child<QProgressBar>(upload.form, "progressBar"), &QProgressBar::valueChanged,
            &upload.form, [&](int value) { bar << value; });
    upload.run();

    QVERIFY(upload.form.uploaded);
    QVERIFY(upload.shown().empty());
    const auto requests = upload.service.requests();
    QCOMPARE(requests.size(), std::size_t(3));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        std::vector<std::string> fields = kFixedFields;
        fields.push_back("PRM=MP3,128,44100,V,2");
        fields.push_back("FNM=" + names[i]);
        fields.push_back("BIN=MThd" + names[i]);
        std::vector<std::string> sent;
        for (const auto& part : requests[i])
            sent.push_back(part.name + "=" + part.content);
        QCOMPARE(sent, fields);
        QCOMPARE(requests[i].back().filename, names[i]);
    }
    QVERIFY(bar.contains(333) && bar.contains(666) && bar.last() <= 1000);
    QVERIFY(std::is_sorted(bar.begin(), bar.end()));
    upload.form.fileIndex = 2;
    upload.form.OnNetProgress(1.0);
    QCOMPARE(bar.last(), 1000);

    // The run leaves the controls off, the transfer's events unset, the cursor as it was.
    for (const char* name : {"uploadBtn", "abortBtn", "optionsListView", "fileFormatComboBox"})
        QVERIFY2(!child(upload.form, name)->isEnabled(), name);
    QVERIFY(!upload.client.state.net->OnProgress && !upload.client.state.net->OnStatus);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void UploadDialogTest::refusalsEndTheRun() {
    {
        UploadRun upload({"One.mid", "Two.mid", "Three.mid"}, {{"Two.mid", "!ERR 1048"}});
        upload.run();
        QCOMPARE(upload.service.requests().size(), std::size_t(2));
        QVERIFY(upload.form.uploaded);
        QCOMPARE(upload.shown().size(), std::size_t(1));
        const auto& box = upload.shown()[0];
        QVERIFY(box.kind == PromptKind::error && box.buttons == PromptButtons::ok);
        QCOMPARE(box.caption, std::string());
        QCOMPARE(box.text, kLead + "Two.mid\n\nThis filename is already in use. MIDI files in "
                                   "your account can't be overwritten (but you can delete them).");
    }
    // A client too old for the service: Yes opens the upgrade page.
    for (const PromptAnswer answer : {PromptAnswer::yes, PromptAnswer::no}) {
        UploadRun upload({"One.mid", "Two.mid"},
                         {{"One.mid", "!ERR 1100\tf1\tf2\thttp://upgrade.localhost/new"}});
        upload.client.seams.prompts.answers = {answer};
        upload.run();
        QCOMPARE(upload.service.requests().size(), std::size_t(1));
        QVERIFY(!upload.form.uploaded);
        QCOMPARE(upload.shown().size(), std::size_t(1));
        QCOMPARE(upload.shown()[0].buttons, PromptButtons::yesNo);
        QCOMPARE(upload.shown()[0].text, kLead + "One.mid\n\nClient application too old. Please "
                                                 "upgrade. Go to\n\nhttp://upgrade.localhost/new"
                                                 "\n\nnow?");
        QCOMPARE(upload.client.seams.shell.openedUrls.size(),
                 std::size_t(answer == PromptAnswer::yes ? 1 : 0));
    }
}

void UploadDialogTest::unsendableNamesNeverLeave() {
    // Wherever such a file stands in the run, nothing at all is sent.
    for (const std::string name : {"Say \"hi\".mid", "Line\nbreak.mid", "Carriage\rreturn.mid"}) {
        UploadRun upload({"Fine.mid", name});
        upload.run();
        QVERIFY(upload.service.requests().empty());
        QVERIFY(!upload.form.uploaded);
        QCOMPARE(upload.shown().size(), std::size_t(1));
        QVERIFY(upload.shown()[0].text.starts_with(kLead + name + "\n\n"));
        QVERIFY(upload.shown()[0].text.find("rename") != std::string::npos);
    }
}

void UploadDialogTest::abortDuringTransfer() {
    // The Abort button, Escape and the close box all end the run the same way.
    const std::function<void(TuploadForm&)> aborts[] = {
        [](TuploadForm& form) { QTest::mouseClick(child(form, "abortBtn"), Qt::LeftButton); },
        [](TuploadForm& form) { QTest::keyClick(&form, Qt::Key_Escape); },
        [](TuploadForm& form) { form.close(); },
    };
    for (const auto& abort : aborts) {
        UploadRun upload({"Slow.mid", "Next.mid"}, {}, "Slow.mid");
        bool openAfterAbort = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &upload.form, [&] {
            if (!upload.service.holding())
                return;
            watch.stop();
            abort(upload.form);
            openAfterAbort =
                upload.form.isVisible() && !child(upload.form, "abortBtn")->isEnabled();
        });
        upload.run([&] { watch.start(10); });
        upload.service.release();

        QVERIFY(openAfterAbort);
        QVERIFY(!upload.form.uploaded);
        QCOMPARE(upload.service.requests().size(), std::size_t(1));
        QCOMPARE(upload.shown().size(), std::size_t(1));
        QCOMPARE(upload.shown()[0].text, kLead + "Slow.mid\n\nInternet connection aborted!");
    }
}

int main(int argc, char** argv) {
    // The C locale sorts by plain code order; users have a real one, whose collation would
    // skip blanks and punctuation unless told not to.
    qputenv("LC_ALL", "en_US.UTF-8");
    QApplication application(argc, argv);
    UploadDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "uploadDialogTest.moc"
