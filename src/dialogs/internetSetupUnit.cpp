#include "internetSetupUnit.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <optional>

#include "busyCursor.h"
#include "connectSettings.h"
#include "netUnit.h"
#include "prompts.h"
#include "serviceCalls.h"
#include "textCodec.h"
#include "urlsUnit.h"

namespace tonvert {

namespace {

constexpr int kTestBufferSize = 1024;
constexpr std::uint16_t kDefaultPort = 80;

// A decimal number, blanks around it allowed; nothing for any other text.
std::optional<int> decimalNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QSpinBox* upDown(QWidget* parent, const char* name, int maximum, int position) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(1, maximum);
    box->setValue(position);
    box->setWrapping(false);
    return box;
}

QPushButton* glyphButton(QWidget* parent, const char* name, const QString& caption,
                         QStyle::StandardPixmap glyph) {
    auto* button = new QPushButton(parent->style()->standardIcon(glyph), caption, parent);
    button->setObjectName(QLatin1String(name));
    // Enter has no meaning in this dialog: no button is clicked by it.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TinternetSetupForm::TinternetSetupForm(QWidget* owner, const Seams& seams)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
    , testNet(std::make_unique<TNet>(seams.connection, seams.pump))
    , seams_(seams) {
    setObjectName(QStringLiteral("internetSetupForm"));
    setWindowTitle(QStringLiteral("Network setup"));

    proxyGroupBox_ = new QGroupBox(QStringLiteral("Proxy"), this);
    proxyGroupBox_->setObjectName(QStringLiteral("proxyGroupBox"));
    serverLabel_ = new QLabel(QStringLiteral("Server"), proxyGroupBox_);
    serverLabel_->setObjectName(QStringLiteral("serverLabel"));
    serverEdit_ = new QLineEdit(proxyGroupBox_);
    serverEdit_->setObjectName(QStringLiteral("serverEdit"));
    serverLabel_->setBuddy(serverEdit_);
    portLabel_ = new QLabel(QStringLiteral("Port"), proxyGroupBox_);
    portLabel_->setObjectName(QStringLiteral("portLabel"));
    portEdit_ = new QLineEdit(proxyGroupBox_);
    portEdit_->setObjectName(QStringLiteral("portEdit"));
    portLabel_->setBuddy(portEdit_);
    bypassLabel_ = new QLabel(QStringLiteral("Bypass"), proxyGroupBox_);
    bypassLabel_->setObjectName(QStringLiteral("bypassLabel"));
    bypassMemo_ = new QPlainTextEdit(proxyGroupBox_);
    bypassMemo_->setObjectName(QStringLiteral("bypassMemo"));
    bypassMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bypassMemo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Tab walks the dialog; entries never hold a tab.
    bypassMemo_->setTabChangesFocus(true);
    bypassLabel_->setBuddy(bypassMemo_);

    patienceGroupBox_ = new QGroupBox(QStringLiteral("Slow connections"), this);
    patienceGroupBox_->setObjectName(QStringLiteral("patienceGroupBox"));
    timeOutLabel_ = new QLabel(QStringLiteral("Timeout (s)"), patienceGroupBox_);
    timeOutLabel_->setObjectName(QStringLiteral("timeOutLabel"));
    timeOutUpDown_ = upDown(patienceGroupBox_, "timeOutUpDown", 3600, 60);
    timeOutLabel_->setBuddy(timeOutUpDown_);
    attemptsLabel_ = new QLabel(QStringLiteral("Attempts"), patienceGroupBox_);
    attemptsLabel_->setObjectName(QStringLiteral("attemptsLabel"));
    attemptsUpDown_ = upDown(patienceGroupBox_, "attemptsUpDown", 10, 5);
    attemptsLabel_->setBuddy(attemptsUpDown_);

    helpBtn_ = glyphButton(this, "helpBtn", QStringLiteral("&Help"), QStyle::SP_DialogHelpButton);
    testBtn_ = glyphButton(this, "testBtn", QStringLiteral("&Test"), QStyle::SP_BrowserReload);
    okBtn_ = glyphButton(this, "okBtn", QStringLiteral("&OK"), QStyle::SP_DialogOkButton);

    auto* proxyLayout = new QGridLayout(proxyGroupBox_);
    proxyLayout->setContentsMargins(8, 4, 8, 6);
    proxyLayout->setVerticalSpacing(4);
    proxyLayout->addWidget(serverLabel_, 0, 0);
    proxyLayout->addWidget(serverEdit_, 0, 1);
    proxyLayout->addWidget(portLabel_, 0, 2);
    proxyLayout->addWidget(portEdit_, 0, 3);
    proxyLayout->addWidget(bypassLabel_, 1, 0, Qt::AlignTop);
    proxyLayout->addWidget(bypassMemo_, 1, 1, 1, 3);
    proxyLayout->setColumnStretch(1, 1);
    portEdit_->setMaximumWidth(64);

    auto* patienceLayout = new QHBoxLayout(patienceGroupBox_);
    patienceLayout->setContentsMargins(8, 4, 8, 6);
    patienceLayout->addWidget(timeOutLabel_);
    patienceLayout->addWidget(timeOutUpDown_);
    patienceLayout->addStretch(1);
    patienceLayout->addWidget(attemptsLabel_);
    patienceLayout->addWidget(attemptsUpDown_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(helpBtn_);
    buttons->addStretch(1);
    buttons->addWidget(testBtn_);
    buttons->addStretch(1);
    buttons->addWidget(okBtn_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
    layout->addWidget(proxyGroupBox_, 1);
    layout->addWidget(patienceGroupBox_);
    layout->addLayout(buttons);
    setFixedSize(441, 200);

    setTabOrder(serverEdit_, portEdit_);
    setTabOrder(portEdit_, bypassMemo_);
    setTabOrder(bypassMemo_, timeOutUpDown_);
    setTabOrder(timeOutUpDown_, attemptsUpDown_);
    setTabOrder(attemptsUpDown_, helpBtn_);
    setTabOrder(helpBtn_, testBtn_);
    setTabOrder(testBtn_, okBtn_);

    // Every control hears Escape and F1 first, so that none keeps them to itself.
    for (QWidget* control :
         std::initializer_list<QWidget*>{serverEdit_, portEdit_, bypassMemo_, timeOutUpDown_,
                                         attemptsUpDown_, helpBtn_, testBtn_, okBtn_})
        control->installEventFilter(this);

    // Also when execute fills the edits.
    connect(serverEdit_, &QLineEdit::textChanged, this, [this] { updateTestButton(); });
    connect(portEdit_, &QLineEdit::textChanged, this, [this] { updateTestButton(); });
    connect(helpBtn_, &QPushButton::clicked, this, &TinternetSetupForm::helpBtnClick);
    connect(testBtn_, &QPushButton::clicked, this, &TinternetSetupForm::testBtnClick);
    connect(okBtn_, &QPushButton::clicked, this, &TinternetSetupForm::okBtnClick);
}

TinternetSetupForm::~TinternetSetupForm() = default;

bool TinternetSetupForm::execute(TNet& net, const std::string& testAddress, int helpContext) {
    accepted = false;
    testing = false;
    closeRequested_ = false;
    editedNet = &net;
    testURL = testAddress;
    helpContext_ = helpContext;
    fill(net);
    exec();
    editedNet = nullptr;
    return accepted;
}

void TinternetSetupForm::fill(const TNet& net) {
    serverEdit_->setText(toQString(net.proxyServer));
    portEdit_->setText(QString::number(net.proxyPort));
    timeOutUpDown_->setValue(net.timeout / 1000);
    attemptsUpDown_->setValue(net.attempts);

    // One entry a line; an empty entry between two commas stays an empty line.
    QStringList lines;
    const std::string& bypass = net.proxyBypass;
    std::size_t start = 0;
    while (start < bypass.size()) {
        const std::size_t comma = bypass.find(',', start);
        const std::size_t end = comma == std::string::npos ? bypass.size() : comma;
        lines.push_back(toQString(bypass.substr(start, end - start)));
        start = end + 1;
    }
    bypassMemo_->clear();
    bypassMemo_->setPlainText(lines.join(QLatin1Char('\n')));
}

void TinternetSetupForm::readParams(TNet& target) const {
    target.proxyServer = toBytes(serverEdit_->text().trimmed());
    target.proxyPort =
        static_cast<std::uint16_t>(decimalNumber(portEdit_->text()).value_or(kDefaultPort));
    target.timeout = timeOutUpDown_->value() * 1000;
    target.attempts = static_cast<std::uint16_t>(attemptsUpDown_->value());

    std::vector<std::string> entries;
    for (const QString& line : bypassMemo_->toPlainText().split(QLatin1Char('\n')))
        entries.push_back(toBytes(line.trimmed()));
    target.proxyBypass = joinBypassEntries(entries);
}

void TinternetSetupForm::updateTestButton() {
    // While a test runs the button is its Stop: it must stay within reach.
    if (testing) {
        testBtn_->setEnabled(true);
        return;
    }
    const std::string server = toBytes(serverEdit_->text().trimmed());
    const int port = decimalNumber(portEdit_->text()).value_or(-1);
    testBtn_->setEnabled(server.empty() || (isDomainName(server) && port >= 0 && port <= 0xFFFF));
}

void TinternetSetupForm::testBtnClick() {
    if (testing) {
        testNet->abort();
        return;
    }
    testing = true;
    closeRequested_ = false;
    TransferResult result;
    {
        std::optional<BusyCursor> busy(std::in_place);
        okBtn_->setEnabled(false);
        testBtn_->setText(QStringLiteral("&Stop"));
        testBtn_->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
        // The dialog is usable again before the message comes, whatever happened.
        const auto end = qScopeGuard([this, &busy] {
            testing = false;
            busy.reset();
            okBtn_->setEnabled(true);
            testBtn_->setText(QStringLiteral("&Test"));
            testBtn_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
            updateTestButton();
        });

        // The settings' state and events, with the values on screen.
        if (editedNet != nullptr)
            testNet->assign(*editedNet);
        readParams(*testNet);
        TransferOptions options;
        options.agent = toBytes(QCoreApplication::applicationName());
        options.bufferSize = kTestBufferSize;
        options.hangUp = false;
        options.detailed = true;
        result = testNet->download({testURL, "", options});
    }

    if (closeRequested_) {
        // The user left during the test: its outcome is no longer asked for.
        closeRequested_ = false;
        QDialog::reject();
        return;
    }
    if (result.ok)
        seams_.prompts.show(PromptKind::information, "", "Network settings OK!", PromptButtons::ok);
    else
        showTransferError(seams_, result.message);
}

void TinternetSetupForm::okBtnClick() {
    if (editedNet != nullptr)
        readParams(*editedNet);
    accepted = true;
    accept();
}

void TinternetSetupForm::helpBtnClick() {
    emit helpRequested(helpContext_);
}

void TinternetSetupForm::reject() {
    if (testing) {
        closeRequested_ = true;
        testNet->abort();
        return;
    }
    QDialog::reject();
}

bool TinternetSetupForm::FormKeyPress(QKeyEvent* event) {
    // F1 asks for the dialog's topic, as its Help button does; whichever control has the
    // focus passes it here.
    if (event->matches(QKeySequence::HelpContents)) {
        helpBtnClick();
        return true;
    }
    if (event->key() != Qt::Key_Escape)
        return false;
    reject();
    return true;
}

void TinternetSetupForm::keyPressEvent(QKeyEvent* event) {
    // QDialog's own handling would click a button on Enter.
    if (!FormKeyPress(event))
        event->ignore();
}

bool TinternetSetupForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && FormKeyPress(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

} // namespace tonvert
