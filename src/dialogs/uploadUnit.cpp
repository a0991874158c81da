#include "uploadUnit.h"

#include <QBoxLayout>
#include <QCollator>
#include <QComboBox>
#include <QFontInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

#include "ListViewXPSafe.h"
#include "busyCursor.h"
#include "inetUpThread.h"
#include "netMessages.h"
#include "netUnit.h"
#include "portableIniFiles.h"
#include "prompts.h"
#include "reportModel.h"
#include "serverSupportUnit.h"
#include "serviceCalls.h"
#include "serviceRequests.h"
#include "shell.h"
#include "textCodec.h"
#include "userCollation.h"

namespace tonvert {

// The presets of the chosen format, one row each.
class OptionsModel : public RowsModel<OptionRow> {
public:
    using RowsModel::RowsModel;

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(
                columns()[static_cast<std::size_t>(index.column())].alignment | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const OptionRow& preset = row(index.row());
        const std::string* const texts[] = {&preset.bitrate, &preset.hz, &preset.channels,
                                            &preset.vbr, &preset.quality};
        return toQString(*texts[index.column()]);
    }
};

namespace {

const char* const kSection = "UploadWindow";
constexpr std::array<const char*, 5> kColumnWidthKeys = {"kbpsWidth", "hzWidth", "channelsWidth",
                                                         "vbrWidth", "qualityWidth"};
const char* const kFailureLead = "An error occurred while uploading the file\n\n";
const char* const kUnsendableName =
    "The file name holds a quotation mark or a line break, which cannot be sent. Please "
    "rename the file.";

QCollator optionCollator() {
    QCollator collator = userCollator();
    // Blanks and punctuation count, and blanks sort before digits: the padded numbers rely
    // on it to sort by value.
    collator.setIgnorePunctuation(false);
    return collator;
}

} // namespace

int compareOptionRows(const OptionRow& a, const OptionRow& b, int code) {
    thread_local const QCollator collator = optionCollator();
    const bool descending = sortsDescending(code);
    return collator.compare(toQString(optionSortKey(descending ? b : a, code)),
                            toQString(optionSortKey(descending ? a : b, code)));
}

TuploadForm::TuploadForm(QWidget* owner, MainState& state, const Seams& seams)
    : QDialog(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , net(state.net.get())
    , state_(state)
    , seams_(seams) {
    setObjectName(QStringLiteral("uploadForm"));
    setWindowTitle(QStringLiteral("Upload MIDI"));

    fileFormatStaticText_ = new QLabel(QStringLiteral("Target audio file format:"), this);
    fileFormatStaticText_->setObjectName(QStringLiteral("fileFormatStaticText"));

    fileFormatComboBox_ = new QComboBox(this);
    fileFormatComboBox_->setObjectName(QStringLiteral("fileFormatComboBox"));
    fileFormatComboBox_->setEditable(true);
    fileFormatComboBox_->setInsertPolicy(QComboBox::NoInsert);
    fileFormatComboBox_->addItems({QStringLiteral("MP3 (MPEG Audio Level 3)"),
                                   QStringLiteral("OGG Vorbis "),
                                   QStringLiteral("WMA (Microsoft Windows Media Audio)"),
                                   QStringLiteral("WAV (Microsoft Windows PCM audio)")});

    optionsListView_ = new TListViewXPSafe(this);
    optionsListView_->setObjectName(QStringLiteral("optionsListView"));
    options_ = new OptionsModel({{QStringLiteral("Bitrate (kbps)"), 80},
                                 {QStringLiteral("Hz"), 50, Qt::AlignRight},
                                 {QStringLiteral("Channels"), 60, Qt::AlignHCenter},
                                 {QStringLiteral("VBR"), 40, Qt::AlignHCenter},
                                 {QStringLiteral("Quality"), 279}},
                                this);
    optionsListView_->setReportModel(options_);
    // No caption is cut in the font in use; widths kept in the settings file still win.
    QHeaderView* const header = optionsListView_->header();
    for (int column = 0; column < options_->columnCount(); ++column)
        header->resizeSection(
            column, std::max(header->sectionSize(column), header->sectionSizeHint(column)));
    optionsListView_->setSelectionMode(QAbstractItemView::SingleSelection);
    optionsListView_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    sizeStaticText_ = new QLabel(QStringLiteral("Approximate target size (kB):"), this);
    sizeStaticText_->setObjectName(QStringLiteral("sizeStaticText"));
    estimateStaticText_ = new QLabel(this);
    estimateStaticText_->setObjectName(QStringLiteral("estimateStaticText"));
    estimateStaticText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    uploadBtn_ = new QPushButton(QStringLiteral("&Submit"), this);
    uploadBtn_->setObjectName(QStringLiteral("uploadBtn"));
    uploadBtn_->setEnabled(false);

    progressPanel_ = new QFrame(this);
    progressPanel_->setObjectName(QStringLiteral("progressPanel"));
    progressBar_ = new QProgressBar(progressPanel_);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setRange(0, 1000);
    progressBar_->setValue(0);
    abortBtn_ = new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop),
                                QStringLiteral("&Abort"), progressPanel_);
    abortBtn_->setObjectName(QStringLiteral("abortBtn"));
    abortBtn_->setAutoDefault(false);
    abortBtn_->setEnabled(false);

    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(fileFormatStaticText_);
    formatRow->addWidget(fileFormatComboBox_, 1);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(sizeStaticText_);
    sizeRow->addWidget(estimateStaticText_, 1);
    sizeRow->addWidget(uploadBtn_);
    auto* progressRow = new QHBoxLayout(progressPanel_);
    progressRow->setContentsMargins(0, 0, 0, 0);
    progressRow->addWidget(progressBar_, 1);
    progressRow->addWidget(abortBtn_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(formatRow);
    layout->addWidget(optionsListView_, 1);
    layout->addLayout(sizeRow);
    layout->addWidget(progressPanel_);
    resize(529, 300);

    // Only the user's own picks and typing: the code that sets the box refills the table
    // itself.
    connect(fileFormatComboBox_, &QComboBox::activated, this,
            [this] { fileFormatComboBoxChange(); });
    connect(fileFormatComboBox_->lineEdit(), &QLineEdit::textEdited, this,
            [this] { fileFormatComboBoxChange(); });
    connect(optionsListView_, &TListViewXPSafe::columnClicked, this,
            &TuploadForm::optionsListViewColumnClick);
    connect(optionsListView_, &TListViewXPSafe::changed, this,
            &TuploadForm::optionsListViewSelectItem);
    connect(uploadBtn_, &QPushButton::clicked, this, &TuploadForm::uploadBtnClick);
    connect(abortBtn_, &QPushButton::clicked, this, &TuploadForm::abortBtnClick);

    fileFormatComboBox_->setCurrentIndex(0);
    fileFormatComboBoxChange();
}

TuploadForm::~TuploadForm() = default;

int TuploadForm::formatIndex() const {
    // Text typed into the box names no format, even while an item is still current.
    const int index = fileFormatComboBox_->currentIndex();
    if (index < 0 || fileFormatComboBox_->currentText() != fileFormatComboBox_->itemText(index))
        return -1;
    return index;
}

void TuploadForm::setJob(UploadJob job) {
    job_ = std::move(job);
    optionsListViewSelectItem();
}

int TuploadForm::selectedRow() const {
    const std::vector<int> rows = optionsListView_->selectedRows();
    return rows.empty() ? -1 : rows.front();
}

void TuploadForm::selectOnly(int row) {
    // The row is brought into view by the caller, not by the list's own jump.
    const bool autoScroll = optionsListView_->hasAutoScroll();
    optionsListView_->setAutoScroll(false);
    optionsListView_->selectionModel()->setCurrentIndex(
        options_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    optionsListView_->setAutoScroll(autoScroll);
}

void TuploadForm::fileFormatComboBoxChange() {
    // A reset clears the selection without telling: the estimate is cleared here.
    options_->setRows(formatPresets(formatIndex()));
    optionsListViewSelectItem();
}

void TuploadForm::optionsListViewColumnClick(int column) {
    BusyCursor busy;
    int& code = optionsListView_->tag;
    code = code == column + 1 ? -code : column + 1;
    options_->sortRows(compareOptionRows, code);
}

void TuploadForm::optionsListViewSelectItem() {
    const int row = selectedRow();
    if (row < 0) {
        estimateStaticText_->clear();
        uploadBtn_->setEnabled(false);
        return;
    }
    estimateStaticText_->setText(
        toQString(estimateText(options_->row(row).bitrate, job_.totalPlayTime)));
    uploadBtn_->setEnabled(!runStarted_);
}

std::string TuploadForm::paramString() const {
    const int row = selectedRow();
    return presetParameters(toBytes(fileFormatComboBox_->currentText().left(3)),
                            row < 0 ? OptionRow{} : options_->row(row));
}

void TuploadForm::scrollToAndSelectItem(int row) {
    const int rows = options_->rowCount();
    if (row < 0 || row >= rows)
        return;
    QScrollBar* const scroller = optionsListView_->verticalScrollBar();
    const int step =
        static_cast<int>(std::abs(QFontInfo(optionsListView_->font()).pixelSize()) * 1.5);
    const int rowHeight = std::max(1, optionsListView_->sizeHintForRow(0));
    const int fullyVisible = std::max(1, optionsListView_->viewport()->height() / rowHeight);
    const auto top = [this] {
        const QModelIndex first = optionsListView_->indexAt(QPoint(0, 0));
        return first.isValid() ? first.row() : 0;
    };
    // Each step must move the view; at either end it no longer does.
    const auto scrollBy = [scroller](int pixels) {
        const int before = scroller->value();
        scroller->setValue(before + pixels);
        return scroller->value() != before;
    };
    while (top() > row && scrollBy(-step)) {
    }
    while (row >= top() + fullyVisible && top() < rows - 1 && scrollBy(step)) {
    }
    selectOnly(row);
    optionsListView_->viewport()->update();
}

void TuploadForm::loadSettings(const std::string& settingsPath) {
    TPortableIniFile ini(settingsPath);
    const int width = ini.readInteger(kSection, "Width", this->width());
    const int height = ini.readInteger(kSection, "Height", this->height());
    QHeaderView* const header = optionsListView_->header();
    std::array<int, kColumnWidthKeys.size()> widths{};
    for (std::size_t i = 0; i < widths.size(); ++i)
        widths[i] = ini.readInteger(kSection, kColumnWidthKeys[i],
                                    header->sectionSize(static_cast<int>(i)));
    const int format = ini.readInteger(kSection, "formatIndex", formatIndex());
    const int option = ini.readInteger(kSection, "optionsIndex", -1);

    resize(width, height);
    for (std::size_t i = 0; i < widths.size(); ++i)
        header->resizeSection(static_cast<int>(i), widths[i]);
    // An index off the list leaves the box without a format.
    fileFormatComboBox_->setCurrentIndex(
        format >= 0 && format < fileFormatComboBox_->count() ? format : -1);
    fileFormatComboBoxChange();
    if (option >= 0 && option < options_->rowCount())
        selectOnly(option);
}

void TuploadForm::saveSettings(const std::string& settingsPath) {
    TPortableIniFile ini(settingsPath);
    ini.writeInteger(kSection, "Width", width());
    ini.writeInteger(kSection, "Height", height());
    const QHeaderView* const header = optionsListView_->header();
    for (std::size_t i = 0; i < kColumnWidthKeys.size(); ++i)
        ini.writeInteger(kSection, kColumnWidthKeys[i], header->sectionSize(static_cast<int>(i)));
    ini.writeInteger(kSection, "formatIndex", formatIndex());
    ini.writeInteger(kSection, "optionsIndex", selectedRow());
}

void TuploadForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated)
        return;
    activated = true;
    optionsListView_->setFocus();
    scrollToAndSelectItem(selectedRow());
}

void TuploadForm::reject() {
    if (running_) {
        abortBtnClick();
        return;
    }
    QDialog::reject();
}

void TuploadForm::abortBtnClick() {
    abortClicked_ = true;
    if (net != nullptr)
        net->abort();
    abortBtn_->setEnabled(false);
}

void TuploadForm::OnNetProgress(double fraction) {
    if (job_.midiFiles.empty())
        return;
    const double done = (fileIndex + std::clamp(fraction, 0.0, 1.0)) * 1000.0 /
                        static_cast<double>(job_.midiFiles.size());
    progressBar_->setValue(static_cast<int>(done));
}

void TuploadForm::uploadBtnClick() {
    if (running_ || runStarted_ || net == nullptr || selectedRow() < 0)
        return;
    running_ = runStarted_ = true;
    abortClicked_ = false;
    net->OnStatus = [](TNet&) {};
    net->OnProgress = [this](double fraction) { OnNetProgress(fraction); };
    std::optional<BusyCursor> busy(std::in_place);
    const auto end = qScopeGuard([this, &busy] {
        abortBtn_->setEnabled(false);
        fileFormatComboBox_->setEnabled(false);
        optionsListView_->setEnabled(false);
        uploadBtn_->setEnabled(false);
        busy.reset();
        net->OnStatus = nullptr;
        net->OnProgress = nullptr;
        running_ = false;
        close();
    });

    uploadBtn_->setEnabled(false);
    optionsListView_->setEnabled(false);
    fileFormatComboBox_->setEnabled(false);
    abortBtn_->setEnabled(true);
    sendFiles(paramString());
}

void TuploadForm::sendFiles(const std::string& parameters) {
    std::vector<UploadRequest> requests;
    for (const std::string& path : job_.midiFiles)
        requests.push_back(midiUploadRequest(job_.account, path, parameters));
    // Legal in a file name here, but it would break the head of the file's part: such a
    // file stops the run before anything is sent (and charged).
    for (const UploadRequest& request : requests)
        if (!fitsPartHead(request.uploadName)) {
            uploadFailed(request.uploadName, kUnsendableName);
            return;
        }
    for (fileIndex = 0; fileIndex < static_cast<int>(requests.size()); ++fileIndex) {
        const UploadRequest& request = requests[static_cast<std::size_t>(fileIndex)];
        const std::string& name = request.uploadName;
        // An abort that came between two transfers stops the next one as it would have
        // stopped the last.
        if (abortClicked_) {
            uploadFailed(name, netMessageText(NetMessage::connectionAborted));
            return;
        }
        const TransferResult result = net->upload(request);
        if (!result.ok) {
            uploadFailed(name, result.message);
            return;
        }
        std::string message, address;
        if (parseServerError(result.reply, state_.service.supportEmail, message, address)) {
            showServiceError(seams_, kFailureLead + name + "\n\n" + message, address);
            return;
        }
        uploaded = true;
    }
}

void TuploadForm::uploadFailed(const std::string& name, const std::string& reason) {
    seams_.prompts.show(PromptKind::error, "", kFailureLead + name + "\n\n" + reason,
                        PromptButtons::ok);
}

} // namespace tonvert
