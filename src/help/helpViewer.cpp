#include "helpViewer.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vector>

#include "chmArchive.h"
#include "textCodec.h"

namespace tonvert {

namespace {

constexpr int kPathRole = Qt::UserRole;
const QString kScheme = QStringLiteral("chm");

bool isPage(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string extension = path.substr(dot);
    return containsNoCase(extension, ".htm") && extension.size() <= 5;
}

// The archive path of a page named in the contents ("page.htm", "/dir/page.htm#part").
std::string objectPathOf(const std::string& local) {
    std::string path = local.substr(0, local.find('#'));
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (path.empty() || path.front() != '/')
        path = "/" + path;
    return path;
}

} // namespace

ChmBrowser::ChmBrowser(OutsideLinkOpener openOutside, QWidget* parent)
    : QTextBrowser(parent)
    , openOutside_(std::move(openOutside)) {
    setObjectName(QStringLiteral("topicBrowser"));
    // Only pages of the help file are shown here; doSetSource hands the others on.
    setOpenExternalLinks(false);
}

void ChmBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (url.scheme() == kScheme || url.isEmpty()) {
        QTextBrowser::doSetSource(name, type);
        return;
    }
    if (openOutside_)
        openOutside_(toBytes(url.toString()));
}

QVariant ChmBrowser::loadResource(int, const QUrl& name) {
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (archive_ == nullptr || url.scheme() != kScheme)
        return {};
    std::string bytes;
    if (!archive_->read(toBytes(url.path()), bytes))
        return {};
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

HelpViewer::HelpViewer(OutsideLinkOpener openOutside, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("helpViewer"));
    // The manual never keeps the program running once the main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(900, 640);

    browser_ = new ChmBrowser(std::move(openOutside));
    back_ = new QToolButton;
    back_->setObjectName(QStringLiteral("backButton"));
    back_->setText(tr("&Back"));
    back_->setEnabled(false);
    forward_ = new QToolButton;
    forward_->setObjectName(QStringLiteral("forwardButton"));
    forward_->setText(tr("&Forward"));
    forward_->setEnabled(false);

    contents_ = new QTreeWidget;
    contents_->setObjectName(QStringLiteral("contentsTree"));
    contents_->setHeaderHidden(true);

    searchEdit_ = new QLineEdit;
    searchEdit_->setObjectName(QStringLiteral("searchEdit"));
    searchEdit_->setPlaceholderText(tr("Words to find"));
    auto* searchButton = new QPushButton(tr("&Search"));
    searchButton->setObjectName(QStringLiteral("searchButton"));
    results_ = new QListWidget;
    results_->setObjectName(QStringLiteral("searchResults"));

    auto* searchPage = new QWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(searchEdit_);
    searchRow->addWidget(searchButton);
    searchLayout->addLayout(searchRow);
    searchLayout->addWidget(results_);

    auto* tabs = new QTabWidget;
    tabs->addTab(contents_, tr("&Contents"));
    tabs->addTab(searchPage, tr("Sea&rch"));

    auto* topicPane = new QWidget;
    auto* topicLayout = new QVBoxLayout(topicPane);
    topicLayout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addStretch();
    topicLayout->addLayout(buttons);
    topicLayout->addWidget(browser_);

    auto* splitter = new QSplitter;
    splitter->addWidget(tabs);
    splitter->addWidget(topicPane);
    splitter->setStretchFactor(1, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? toQString(fileName_) : title);
        selectContentsOf(url);
    });
    const auto openItem = [this](QTreeWidgetItem* item) {
        if (item != nullptr)
            showTopic(toBytes(item->data(0, kPathRole).toString()));
    };
    connect(contents_, &QTreeWidget::itemClicked, this, openItem);
    connect(contents_, &QTreeWidget::itemActivated, this, openItem);
    connect(searchEdit_, &QLineEdit::returnPressed, this, &HelpViewer::search);
    connect(searchButton, &QPushButton::clicked, this, &HelpViewer::search);
    const auto openResult = [this](QListWidgetItem* item) {
        if (item != nullptr)
            showTopic(toBytes(item->data(kPathRole).toString()));
    };
    connect(results_, &QListWidget::itemClicked, this, openResult);
    connect(results_, &QListWidget::itemActivated, this, openResult);
}

HelpViewer::~HelpViewer() = default;

QUrl HelpViewer::urlOf(const std::string& objectPath) {
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(toQString(objectPath));
    return url;
}

bool HelpViewer::openFile(const std::string& path) {
    if (archive_ && path == fileName_)
        return true;
    auto archive = std::make_unique<ChmArchive>(path);
    if (!archive->isOpen())
        return false;
    browser_->setArchive(archive.get());
    archive_ = std::move(archive);
    fileName_ = path;
    browser_->clearHistory();
    results_->clear();
    fillContents();
    return true;
}

void HelpViewer::showContext(std::uint32_t context) {
    if (!archive_)
        return;
    std::string topic = archive_->topicOfContext(context);
    if (topic.empty() && contents_->topLevelItemCount() > 0)
        topic = toBytes(contents_->topLevelItem(0)->data(0, kPathRole).toString());
    if (!topic.empty())
        showTopic(topic);
}

void HelpViewer::showTopic(const std::string& objectPath) {
    if (archive_ && !objectPath.empty())
        browser_->setSource(urlOf(objectPath), QTextDocument::HtmlResource);
}

void HelpViewer::fillContents() {
    contents_->clear();
    std::string sitemap;
    if (!archive_->read(archive_->contentsFile(), sitemap))
        return;
    // The last item of each level, as the parent of the entries one level deeper.
    std::vector<QTreeWidgetItem*> parents;
    for (const auto& entry : parseSitemap(sitemap)) {
        const auto level = static_cast<std::size_t>(entry.level);
        parents.resize(std::min(parents.size(), level));
        QTreeWidgetItem* item =
            parents.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(parents.back());
        item->setText(0, toQString(entry.name));
        if (!entry.local.empty())
            item->setData(0, kPathRole, toQString(objectPathOf(entry.local)));
        parents.push_back(item);
    }
    contents_->expandAll();
}

void HelpViewer::search() {
    results_->clear();
    const std::string needle = toBytes(searchEdit_->text().trimmed());
    if (!archive_ || needle.empty())
        return;
    for (const auto& file : archive_->files()) {
        std::string page;
        if (!isPage(file) || !archive_->read(file, page))
            continue;
        const std::string title = htmlTitle(page);
        if (!containsNoCase(htmlPlainText(page), needle) && !containsNoCase(title, needle))
            continue;
        auto* item = new QListWidgetItem(toQString(title.empty() ? file : title), results_);
        item->setData(kPathRole, toQString(file));
    }
}

void HelpViewer::selectContentsOf(const QUrl& url) {
    const QString path = url.path();
    QTreeWidgetItemIterator it(contents_);
    for (; *it != nullptr; ++it)
        if ((*it)->data(0, kPathRole).toString().compare(path, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker blocker(contents_);
            contents_->setCurrentItem(*it);
            return;
        }
}

} // namespace tonvert
