#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
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
using namespace std::chrono_literals;

namespace {

using Replies = std::map<std::string, std::string>;

const std::string kLead = "An error occurred while uploading the file\n\n";
const std::vector<std::string> kFixedFields = {"UID=user@example.org", "PWD=secret", "LNG=us",
                                               "VER=1.0", "CMD=submitmidi"};

// The service's script on loopback: keeps each request's parts in the order they came and
// answers "!VAL n", or the reply set for the file's name. A request for `holdName` waits
// until released (ten seconds at most) before its answer.
class ServiceStub {
public:
    struct Part {
        std::string name;
        std::string filename;
        std::string content;
    };
    using Request = std::vector<Part>;

    explicit ServiceStub(Replies replies = {}, std::string holdName = {})
        : replies_(std::move(replies))
        , holdName_(std::move(holdName)) {
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
                             std::string file;
                             for (const Part& part : parts)
                                 if (part.name == "BIN")
                                     file = part.filename;
                             std::unique_lock lock(mutex_);
                             requests_.push_back(parts);
                             const auto reply = replies_.find(file);
                             response.set_content(reply != replies_.end()
                                                      ? reply->second
                                                      : "!VAL " + std::to_string(requests_.size()),
                                                  "text/plain");
                             if (file == holdName_) {
                                 holding_ = true;
                                 released_.wait_for(lock, 10s, [this] { return release_; });
                             }
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
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
    }

private:
    const Replies replies_;
    const std::string holdName_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::atomic<bool> holding_{false};
    std::vector<Request> requests_;
    test::HttpTestServer http;
};

// What the main window hands the dialog: the state with the service's host and a transfer
// object over the test's seams.
struct Client {
    explicit Client(int port = 1) {
        state.service.host = "upload.localhost:" + std::to_string(port);
        state.net = std::make_unique<TNet>(seams.connection, seams.pump);
    }
    test::TestSeams seams;
    MainState state;
};

template <class T> T* child(const QObject& form, const char* name) {
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

QStringList rowTexts(const TuploadForm& form, int row) {
    const QAbstractItemModel* model = listOf(form)->model();
    QStringList texts;
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->index(row, column).data().toString();
    return texts;
}

QStringList columnTexts(const TuploadForm& form, int column) {
    const QAbstractItemModel* model = listOf(form)->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
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

QString estimate(const TuploadForm& form) {
    return child<QLabel>(form, "estimateStaticText")->text();
}

bool submitEnabled(const TuploadForm& form) {
    return child<QPushButton>(form, "uploadBtn")->isEnabled();
}

// Shows the dialog modally and does `action` once it is up; a guard aborts and closes it
// should it hang.
void runModal(TuploadForm& form, const std::function<void()>& action) {
    bool guarded = false;
    QTimer::singleShot(0, &form, action);
    QTimer::singleShot(30000, &form, [&] {
        guarded = true;
        form.abortBtnClick();
        form.close();
    });
    form.exec();
    QVERIFY2(!guarded, "the dialog had to be closed by the guard");
}

void clickSubmit(TuploadForm& form) {
    QTest::mouseClick(child<QPushButton>(form, "uploadBtn"), Qt::LeftButton);
}

std::vector<std::string> midiFilesIn(const test::TempFolder& folder,
                                     const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const auto& name : names) {
        paths.push_back(folder.file(name));
        test::writeBytes(paths.back(), "MThd" + name);
    }
    return paths;
}

} // namespace

class UploadDialogTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndStartingState();
    void presetTables();
    void sizeEstimate();
    void sortOrders();
    void sortCycle();
    void settings();
    void scrollsTheSelectedRowIntoView();
    void progressBar();
    void threeFilesUploaded();
    void refusedFileEndsTheRun();
    void upgradeReplyOffersThePage();
    void unsendableNamesNeverLeave();
    void abortDuringTransfer();
};

void UploadDialogTest::layoutAndStartingState() {
    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    QCOMPARE(form.objectName(), QStringLiteral("uploadForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Upload MIDI"));
    QCOMPARE(form.size(), QSize(529, 300));
    QCOMPARE(form.net, client.state.net.get());
    QVERIFY(!form.uploaded && !form.activated);

    auto* box = child<QComboBox>(form, "fileFormatComboBox");
    QVERIFY(box->isEditable());
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    QCOMPARE(items, (QStringList{"MP3 (MPEG Audio Level 3)", "OGG Vorbis ",
                                 "WMA (Microsoft Windows Media Audio)",
                                 "WAV (Microsoft Windows PCM audio)"}));
    QCOMPARE(box->currentIndex(), 0);

    TListViewXPSafe* list = listOf(form);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QStringList captions;
    QList<int> widths;
    for (int i = 0; i < list->model()->columnCount(); ++i) {
        captions << list->model()->headerData(i, Qt::Horizontal).toString();
        widths << list->header()->sectionSize(i);
    }
    QCOMPARE(captions, (QStringList{"Bitrate (kbps)", "Hz", "Channels", "VBR", "Quality"}));
    QCOMPARE(widths, (QList<int>{80, 50, 60, 40, 279}));
    const auto alignment = [&](int column) {
        return list->model()->index(0, column).data(Qt::TextAlignmentRole).toInt() &
               Qt::AlignHorizontal_Mask;
    };
    QCOMPARE(alignment(1), int(Qt::AlignRight));
    QCOMPARE(alignment(2), int(Qt::AlignHCenter));
    QCOMPARE(alignment(3), int(Qt::AlignHCenter));
    QCOMPARE(alignment(4), int(Qt::AlignLeft));

    QCOMPARE(rowCount(form), 44);
    QVERIFY(!list->hasSelection());
    QCOMPARE(estimate(form), QString());
    QVERIFY(!submitEnabled(form));
    QCOMPARE(child<QPushButton>(form, "uploadBtn")->text(), QStringLiteral("&Submit"));
    auto* abort = child<QPushButton>(form, "abortBtn");
    QVERIFY(!abort->isEnabled());
    QVERIFY(!abort->icon().isNull());
    auto* bar = child<QProgressBar>(form, "progressBar");
    QCOMPARE(bar->parent(), child<QWidget>(form, "progressPanel"));
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->value()}), QList<int>({0, 1000, 0}));

    // Opening the dialog puts the focus in the list.
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), list);
    QVERIFY(form.activated);
}

void UploadDialogTest::presetTables() {
    QCOMPARE(formatPresets(-1).size() + formatPresets(kUploadFormatCount).size(), std::size_t(0));
    std::size_t all = 0;
    for (int format = 0; format < kUploadFormatCount; ++format)
        all += formatPresets(format).size();
    QCOMPARE(all, std::size_t(112));

    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    struct Expected {
        int rows;
        QStringList first;
        QStringList last;
        int exampleRow;
        std::string parameters;
    };
    const Expected expected[] = {
        {44,
         {"320", "44 100", "2", "Y", "Insane VBR stereo"},
         {"56", "44 100", "1", "N", "Lowest CBR mono"},
         0,
         "MP3,320,44100,V,2"},
        {40,
         {"500", "44 100", "2", "Y", "10 (highest) - VBR stereo"},
         {"64", "44 100", "1", "N", "1 (lowest) - CBR mono"},
         39,
         "OGG,64,44100,C,1"},
        {22,
         {"192", "48 000", "2", "", "Highest (DAT-like)"},
         {"16", "22 050", "1", "", "Lowest - mono"},
         0,
         "WMA,192,48000,C,2"},
        {6,
         {"1 500", "48 000", "2", "N", "DAT - stereo"},
         {"352", "22 050", "1", "N", "FM - mono"},
         2,
         "WAV,1378,44100,C,2"},
    };
    for (int format = 0; format < kUploadFormatCount; ++format) {
        const Expected& e = expected[format];
        form.scrollToAndSelectItem(1);
        pickFormat(form, format);
        QCOMPARE(rowCount(form), e.rows);
        QCOMPARE(rowTexts(form, 0), e.first);
        QCOMPARE(rowTexts(form, e.rows - 1), e.last);
        // A refill leaves nothing selected.
        QVERIFY(!listOf(form)->hasSelection());
        QVERIFY(!submitEnabled(form));
        form.scrollToAndSelectItem(e.exampleRow);
        QCOMPARE(form.paramString(), e.parameters);
    }
    // Inside a format the levels run from the best down, each in its four variants.
    pickFormat(form, 0);
    QCOMPARE(rowTexts(form, 6), (QStringList{"256", "44 100", "1", "Y", "Extreme VBR mono"}));
    QCOMPARE(rowTexts(form, 23), (QStringList{"128", "44 100", "1", "N", "Standard CBR mono"}));
    pickFormat(form, 1);
    QCOMPARE(rowTexts(form, 29),
             (QStringList{"112", "44 100", "2", "N", "3 (standard) - CBR stereo"}));
    pickFormat(form, 2);
    QCOMPARE(rowTexts(form, 12),
             (QStringList{"32", "44 100", "1", "", "Medium low- (56k modem) - mono"}));
    pickFormat(form, 3);
    QCOMPARE(columnTexts(form, 0), (QStringList{"1 500", "750", "1 378", "689", "703", "352"}));

    // Text typed into the box names no format: the table empties and Submit goes off.
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
    QCOMPARE(estimateText("128", 205), std::string("3280"));
    QCOMPARE(estimateText("128", 0), std::string("0"));
    // Halves go to the even neighbour: 2.5, 7.5, 1.5, 4.5.
    QCOMPARE(estimateText("20", 1), std::string("2"));
    QCOMPARE(estimateText("20", 3), std::string("8"));
    QCOMPARE(estimateText("12", 1), std::string("2"));
    QCOMPARE(estimateText("36", 1), std::string("4"));
    QCOMPARE(estimateText("29", 1), std::string("4")); // 3.625
    QCOMPARE(estimateText("56", 1), std::string("7"));
    QCOMPARE(estimateText("1 378", 3), std::string("517"));
    QCOMPARE(estimateText("1 500", 7200), std::string("1350000"));
    for (const char* notANumber : {"", " ", "abc", "12x", "1.5", "4000000000"})
        QCOMPARE(estimateText(notANumber, 10), std::string("?"));

    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    struct Case {
        int format;
        int row;
        int seconds;
        const char* text;
    };
    const Case cases[] = {{0, 20, 205, "3280"}, {0, 20, 0, "0"}, {2, 16, 1, "2"},
                          {2, 19, 3, "8"},      {0, 40, 1, "7"}, {3, 2, 3, "517"}};
    for (const Case& c : cases) {
        pickFormat(form, c.format);
        form.totalPlayTime = c.seconds;
        form.scrollToAndSelectItem(c.row);
        QCOMPARE(estimate(form), QString::fromLatin1(c.text));
        QVERIFY(submitEnabled(form));
    }
    // A click on a row does the same; taking the selection away clears it again.
    form.show();
    TListViewXPSafe* list = listOf(form);
    form.totalPlayTime = 8;
    const QModelIndex first = list->model()->index(0, 4);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(first).center());
    QCOMPARE(estimate(form), QStringLiteral("1500"));
    list->clearSelection();
    QCOMPARE(estimate(form), QString());
    QVERIFY(!submitEnabled(form));
}

void UploadDialogTest::sortOrders() {
    const OptionRow small{"56", "44 100", "1", "Y", "Lowest VBR mono"};
    const OptionRow large{"320", "48 000", "2", "N", "Insane CBR stereo"};
    const auto order = [&](int code) {
        const int c = compareOptionRows(small, large, code);
        return c < 0 ? '<' : c > 0 ? '>' : '=';
    };
    // Codes 1 to 4 and their negatives; anything else sorts by the name, ascending.
    QCOMPARE(std::string({order(1), order(2), order(3), order(4), order(5)}), std::string("<<<>>"));
    QCOMPARE(std::string({order(-1), order(-2), order(-3), order(-4), order(-5)}),
             std::string(">>><<"));
    QCOMPARE(std::string({order(0), order(6), order(-6), order(100)}), std::string(">>>>"));

    // The padding makes the texts sort by value; letter case does not count.
    const OptionRow wide{"1 378", "44 100", "2", "N", "cd - STEREO"};
    const OptionRow narrow{"750", "48 000", "1", "N", "CD - stereo"};
    QVERIFY(compareOptionRows(narrow, wide, 1) < 0);
    QVERIFY(compareOptionRows(wide, narrow, -1) < 0);
    QCOMPARE(compareOptionRows(wide, narrow, 5), 0);
    QCOMPARE(optionSortKey(small, -1), std::string("  56"));
    QCOMPARE(optionSortKey(small, 2), std::string(" 44 100"));
}

void UploadDialogTest::sortCycle() {
    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.show();
    TListViewXPSafe* list = listOf(form);

    // Bit rates sort by value, not by their first digits.
    pickFormat(form, 3);
    clickHeader(form, 0);
    QCOMPARE(list->tag, 1);
    QCOMPARE(columnTexts(form, 0), (QStringList{"352", "689", "703", "750", "1 378", "1 500"}));
    pickFormat(form, 0);
    clickHeader(form, 1);
    clickHeader(form, 0);
    QCOMPARE(list->tag, 1);
    const QStringList rates = columnTexts(form, 0);
    for (int i = 1; i < rates.size(); ++i)
        QVERIFY2(rates[i - 1].toInt() <= rates[i].toInt(), qPrintable(rates.join(',')));
    QCOMPARE(rates.first(), QStringLiteral("56"));

    // Hz ascending, then descending; rows with equal keys keep their order.
    pickFormat(form, 2);
    form.scrollToAndSelectItem(5); // Medium high, 44 100
    clickHeader(form, 1);
    QCOMPARE(list->tag, 2);
    QCOMPARE(rowTexts(form, 0), (QStringList{"32", "22 050", "2", "", "Low- (multimedia)"}));
    QCOMPARE(rowTexts(form, 21), (QStringList{"128", "48 000", "2", "", "High+"}));
    clickHeader(form, 1);
    QCOMPARE(list->tag, -2);
    QCOMPARE(rowTexts(form, 0)[4], QStringLiteral("Highest (DAT-like)"));
    QCOMPARE(rowTexts(form, 21)[4], QStringLiteral("Lowest - mono"));
    // The selection follows its row.
    QCOMPARE(form.paramString(), std::string("WMA,128,44100,C,2"));
    QCOMPARE(estimate(form), QStringLiteral("0"));

    clickHeader(form, 4);
    QCOMPARE(list->tag, 5);
    QCOMPARE(columnTexts(form, 4), (QStringList{"High (CD-like)",
                                                "High+",
                                                "High++",
                                                "Highest (DAT-like)",
                                                "Low (FM radio)",
                                                "Low (FM radio) - mono",
                                                "Low- (multimedia)",
                                                "Low--",
                                                "Low---",
                                                "Low--- mono",
                                                "Lowest - mono",
                                                "Medium high",
                                                "Medium high+ (near CD)",
                                                "Medium low (56k modem)",
                                                "Medium low (56k modem) - mono",
                                                "Medium low- (56k modem)",
                                                "Medium low- (56k modem) - mono",
                                                "Medium low--",
                                                "Medium low---",
                                                "Standard",
                                                "Standard+",
                                                "Standard++"}));

    // A new format comes in table order with the code kept; the next click on that column
    // turns it round.
    pickFormat(form, 0);
    QCOMPARE(list->tag, 5);
    QCOMPARE(rowTexts(form, 0)[4], QStringLiteral("Insane VBR stereo"));
    QCOMPARE(rowTexts(form, 43)[4], QStringLiteral("Lowest CBR mono"));
    clickHeader(form, 4);
    QCOMPARE(list->tag, -5);
    QCOMPARE(QStringList(columnTexts(form, 4).mid(0, 4)),
             (QStringList{"Very high VBR stereo", "Very high VBR mono", "Very high CBR stereo",
                          "Very high CBR mono"}));
    QCOMPARE(rowTexts(form, 43)[4], QStringLiteral("Extreme CBR mono"));
}

void UploadDialogTest::settings() {
    test::TempFolder folder;
    const std::string path = folder.file("Tonvert.ini");
    Client client;
    {
        // No file: everything stays as it was.
        TuploadForm form(nullptr, client.state, client.seams.seams());
        pickFormat(form, 2);
        form.loadSettings(folder.file("missing.ini"));
        QCOMPARE(form.size(), QSize(529, 300));
        QCOMPARE(listOf(form)->header()->sectionSize(4), 279);
        QCOMPARE(rowCount(form), 22);
        QVERIFY(!listOf(form)->hasSelection());
    }
    {
        TuploadForm form(nullptr, client.state, client.seams.seams());
        pickFormat(form, 1);
        form.scrollToAndSelectItem(39); // 1 (lowest) - CBR mono
        form.optionsListViewColumnClick(0);
        QCOMPARE(rowTexts(form, 3)[4], QStringLiteral("1 (lowest) - CBR mono"));
        form.resize(600, 350);
        for (int i = 0; i < 5; ++i)
            listOf(form)->header()->resizeSection(i, 91 + i);
        form.saveSettings(path);
    }
    {
        TPortableIniFile ini(path);
        std::vector<std::string> lines;
        ini.readSectionValues("UploadWindow", lines);
        QCOMPARE(lines,
                 (std::vector<std::string>{"Width=600", "Height=350", "kbpsWidth=91", "hzWidth=92",
                                           "channelsWidth=93", "vbrWidth=94", "qualityWidth=95",
                                           "formatIndex=1", "optionsIndex=3"}));
    }
    {
        // The row at the saved position of the table as it first comes.
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.totalPlayTime = 16;
        form.loadSettings(path);
        QCOMPARE(form.size(), QSize(600, 350));
        QList<int> widths;
        for (int i = 0; i < 5; ++i)
            widths << listOf(form)->header()->sectionSize(i);
        QCOMPARE(widths, (QList<int>{91, 92, 93, 94, 95}));
        QCOMPARE(child<QComboBox>(form, "fileFormatComboBox")->currentText(),
                 QStringLiteral("OGG Vorbis "));
        QCOMPARE(rowCount(form), 40);
        QCOMPARE(listOf(form)->selectedRows(), std::vector<int>{3});
        QCOMPARE(form.paramString(), std::string("OGG,500,44100,C,1"));
        QCOMPARE(estimate(form), QStringLiteral("1000"));
        QVERIFY(submitEnabled(form));
    }
    {
        TPortableIniFile ini(path);
        ini.writeInteger("UploadWindow", "optionsIndex", -1);
    }
    {
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.loadSettings(path);
        QCOMPARE(rowCount(form), 40);
        QVERIFY(!listOf(form)->hasSelection());
        QVERIFY(!submitEnabled(form));
        QCOMPARE(estimate(form), QString());
        form.saveSettings(path);
        QCOMPARE(TPortableIniFile(path).readInteger("UploadWindow", "optionsIndex", 0), -1);
    }
    for (const int format : {4, -2}) {
        {
            TPortableIniFile ini(path);
            ini.writeInteger("UploadWindow", "formatIndex", format);
            ini.writeInteger("UploadWindow", "optionsIndex", 0);
        }
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.loadSettings(path);
        QCOMPARE(child<QComboBox>(form, "fileFormatComboBox")->currentIndex(), -1);
        QCOMPARE(rowCount(form), 0);
        QVERIFY(!submitEnabled(form));
    }
}

void UploadDialogTest::scrollsTheSelectedRowIntoView() {
    test::TempFolder folder;
    const std::string path = folder.file("Tonvert.ini");
    {
        TPortableIniFile ini(path);
        ini.writeInteger("UploadWindow", "formatIndex", 0);
        ini.writeInteger("UploadWindow", "optionsIndex", 43);
    }
    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.loadSettings(path);
    TListViewXPSafe* list = listOf(form);
    const auto shown = [&](int row) {
        return list->viewport()->rect().intersects(list->visualRect(list->model()->index(row, 0)));
    };
    form.show();
    QVERIFY(form.activated);
    QVERIFY(shown(43));
    QVERIFY(!shown(0));
    QCOMPARE(list->selectedRows(), std::vector<int>{43});

    form.scrollToAndSelectItem(0);
    QVERIFY(shown(0));
    QCOMPARE(list->selectedRows(), std::vector<int>{0});
    form.scrollToAndSelectItem(20);
    QVERIFY(shown(20));
    form.scrollToAndSelectItem(-1);
    form.scrollToAndSelectItem(44);
    QCOMPARE(list->selectedRows(), std::vector<int>{20});
}

void UploadDialogTest::progressBar() {
    Client client;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    auto* bar = child<QProgressBar>(form, "progressBar");
    form.midiFiles = {"/a.mid", "/b.mid", "/c.mid"};
    const auto valueAt = [&](int index, double fraction) {
        form.fileIndex = index;
        form.OnNetProgress(fraction);
        return bar->value();
    };
    QCOMPARE(valueAt(0, 0.0), 0);
    QCOMPARE(valueAt(0, 1.0), 333);
    QCOMPARE(valueAt(1, 0.0), 333);
    QCOMPARE(valueAt(1, 0.5), 500);
    QCOMPARE(valueAt(2, 0.0), 666);
    QCOMPARE(valueAt(2, 1.0), 1000);
}

void UploadDialogTest::threeFilesUploaded() {
    ServiceStub service;
    Client client(service.port());
    test::TempFolder folder;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.midiFiles = midiFilesIn(folder, {"One.mid", "Two.mid", "Three.mid"});
    form.formFields = kFixedFields;
    form.totalPlayTime = 100;
    form.scrollToAndSelectItem(20);
    QList<int> bar;
    connect(child<QProgressBar>(form, "progressBar"), &QProgressBar::valueChanged, &form,
            [&](int value) { bar << value; });

    runModal(form, [&] { clickSubmit(form); });

    QVERIFY(form.uploaded);
    QVERIFY(client.seams.prompts.shown.empty());
    QVERIFY(!form.isVisible());
    const auto requests = service.requests();
    QCOMPARE(requests.size(), std::size_t(3));
    const std::vector<std::string> names = {"One.mid", "Two.mid", "Three.mid"};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        std::vector<std::string> fields;
        for (const auto& part : requests[i])
            fields.push_back(part.name + "=" + part.content);
        QCOMPARE(fields.size(), std::size_t(8));
        fields.pop_back();
        std::vector<std::string> expected = kFixedFields;
        expected.push_back("PRM=MP3,128,44100,V,2");
        expected.push_back("FNM=" + names[i]);
        QCOMPARE(fields, expected);
        const ServiceStub::Part& file = requests[i].back();
        QCOMPARE(file.name, std::string("BIN"));
        QCOMPARE(file.filename, names[i]);
        QCOMPARE(file.content, "MThd" + names[i]);
    }
    // Each accepted file's name is taken off again.
    std::vector<std::string> left = kFixedFields;
    left.push_back("PRM=MP3,128,44100,V,2");
    QCOMPARE(form.formFields, left);

    QVERIFY(bar.contains(333));
    QVERIFY(bar.contains(666));
    QVERIFY(std::is_sorted(bar.begin(), bar.end()));
    QVERIFY(bar.last() <= 1000);

    // The run leaves the controls off and the transfer's events unset.
    QVERIFY(!submitEnabled(form));
    QVERIFY(!child<QPushButton>(form, "abortBtn")->isEnabled());
    QVERIFY(!listOf(form)->isEnabled());
    QVERIFY(!child<QComboBox>(form, "fileFormatComboBox")->isEnabled());
    QVERIFY(!client.state.net->OnProgress && !client.state.net->OnStatus);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void UploadDialogTest::refusedFileEndsTheRun() {
    ServiceStub service(Replies{{"Two.mid", "!ERR 1048"}});
    Client client(service.port());
    test::TempFolder folder;
    TuploadForm form(nullptr, client.state, client.seams.seams());
    form.midiFiles = midiFilesIn(folder, {"One.mid", "Two.mid", "Three.mid"});
    form.formFields = kFixedFields;
    form.scrollToAndSelectItem(0);

    runModal(form, [&] { clickSubmit(form); });

    const auto requests = service.requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QCOMPARE(requests[1].back().filename, std::string("Two.mid"));
    QVERIFY(form.uploaded);
    QVERIFY(!form.isVisible());
    const auto& shown = client.seams.prompts.shown;
    QCOMPARE(shown.size(), std::size_t(1));
    QCOMPARE(shown[0].kind, PromptKind::error);
    QCOMPARE(shown[0].caption, std::string());
    QCOMPARE(shown[0].buttons, PromptButtons::ok);
    QCOMPARE(shown[0].text, kLead + "Two.mid\n\nThis filename is already in use. MIDI files in "
                                    "your account can't be overwritten (but you can delete them).");
    QVERIFY(client.seams.shell.openedUrls.empty());
}

void UploadDialogTest::upgradeReplyOffersThePage() {
    for (const PromptAnswer answer : {PromptAnswer::yes, PromptAnswer::no}) {
        ServiceStub service(
            Replies{{"One.mid", "!ERR 1100\tf1\tf2\thttp://upgrade.localhost/new"}});
        Client client(service.port());
        client.seams.prompts.answers = {answer};
        test::TempFolder folder;
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.midiFiles = midiFilesIn(folder, {"One.mid", "Two.mid"});
        form.scrollToAndSelectItem(0);

        runModal(form, [&] { clickSubmit(form); });

        QCOMPARE(service.requests().size(), std::size_t(1));
        QVERIFY(!form.uploaded);
        const auto& shown = client.seams.prompts.shown;
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].buttons, PromptButtons::yesNo);
        QCOMPARE(shown[0].text, kLead + "One.mid\n\nClient application too old. Please upgrade. "
                                        "Go to\n\nhttp://upgrade.localhost/new\n\nnow?");
        QCOMPARE(client.seams.shell.openedUrls,
                 answer == PromptAnswer::yes
                     ? std::vector<std::string>{"http://upgrade.localhost/new"}
                     : std::vector<std::string>{});
    }
}

void UploadDialogTest::unsendableNamesNeverLeave() {
    for (const std::string name : {"Say \"hi\".mid", "Line\nbreak.mid", "Carriage\rreturn.mid"}) {
        ServiceStub service;
        Client client(service.port());
        test::TempFolder folder;
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.midiFiles = midiFilesIn(folder, {name, "Fine.mid"});
        form.scrollToAndSelectItem(0);

        runModal(form, [&] { clickSubmit(form); });

        QVERIFY(service.requests().empty());
        QVERIFY(!form.uploaded);
        QVERIFY(!form.isVisible());
        const auto& shown = client.seams.prompts.shown;
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].kind, PromptKind::error);
        QVERIFY(shown[0].text.starts_with(kLead + name + "\n\n"));
        QVERIFY(shown[0].text.find("rename") != std::string::npos);
    }
}

void UploadDialogTest::abortDuringTransfer() {
    // The Abort button, Escape and the close box all end the run the same way.
    const std::vector<std::function<void(TuploadForm&)>> aborts = {
        [](TuploadForm& form) {
            QTest::mouseClick(child<QPushButton>(form, "abortBtn"), Qt::LeftButton);
        },
        [](TuploadForm& form) { QTest::keyClick(&form, Qt::Key_Escape); },
        [](TuploadForm& form) { form.close(); },
    };
    for (const auto& abort : aborts) {
        ServiceStub service(Replies{}, "Slow.mid");
        Client client(service.port());
        test::TempFolder folder;
        TuploadForm form(nullptr, client.state, client.seams.seams());
        form.midiFiles = midiFilesIn(folder, {"Slow.mid", "Next.mid"});
        form.scrollToAndSelectItem(0);
        bool visibleAfterAbort = false;
        bool abortOffAfterAbort = false;

        QTimer watch;
        connect(&watch, &QTimer::timeout, &form, [&] {
            if (!service.holding())
                return;
            watch.stop();
            QVERIFY(child<QPushButton>(form, "abortBtn")->isEnabled());
            abort(form);
            visibleAfterAbort = form.isVisible();
            abortOffAfterAbort = !child<QPushButton>(form, "abortBtn")->isEnabled();
        });
        runModal(form, [&] {
            watch.start(10);
            clickSubmit(form);
        });
        service.release();

        QVERIFY(visibleAfterAbort);
        QVERIFY(abortOffAfterAbort);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.uploaded);
        QCOMPARE(service.requests().size(), std::size_t(1));
        const auto& shown = client.seams.prompts.shown;
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, kLead + "Slow.mid\n\nInternet connection aborted!");
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
