#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QTextBrowser>
#include <QWidget>

#include "hh.h"

class QLineEdit;
class QListWidget;
class QToolButton;
class QTreeWidget;

namespace tonvert {

class ChmArchive;

// A text browser whose pages, images and stylesheets come from a compiled help file. Links
// that lead out of the file go to `openOutside` and leave the page as it is.
class ChmBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit ChmBrowser(OutsideLinkOpener openOutside, QWidget* parent = nullptr);
    void setArchive(const ChmArchive* archive) { archive_ = archive; }
    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    const ChmArchive* archive_ = nullptr;
    OutsideLinkOpener openOutside_;
};

// The manual's window: the table of contents and a search beside the topic, with back and
// forward.
class HelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewer(OutsideLinkOpener openOutside, QWidget* parent = nullptr);
    ~HelpViewer() override;

    // Opens a help file (kept when it is the one already open); false when it cannot be read.
    bool openFile(const std::string& path);
    // Shows the topic the file maps to the context number, or the first page of the contents
    // when it maps none.
    void showContext(std::uint32_t context);
    // Shows a page of the file by its path inside it ("/page.htm").
    void showTopic(const std::string& objectPath);
    const std::string& fileName() const { return fileName_; }

    static QUrl urlOf(const std::string& objectPath);

private:
    void fillContents();
    void search();
    void selectContentsOf(const QUrl& url);

    std::string fileName_;
    std::unique_ptr<ChmArchive> archive_;
    ChmBrowser* browser_;
    QTreeWidget* contents_;
    QLineEdit* searchEdit_;
    QListWidget* results_;
    QToolButton* back_;
    QToolButton* forward_;
};

} // namespace tonvert
