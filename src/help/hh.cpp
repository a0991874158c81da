#include "hh.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>

#include "helpViewer.h"
#include "hh_funcs.h"

namespace tonvert {

namespace {

QPointer<HelpViewer>& viewerWindow() {
    static QPointer<HelpViewer> viewer;
    return viewer;
}

OutsideLinkOpener& outsideLinkOpener() {
    static OutsideLinkOpener opener;
    return opener;
}

// A modal dialog blocks every window but its own: over one, the viewer becomes a window of
// that dialog, and when the dialog closes it goes back to the window the user works in then,
// still open.
void placeOver(HelpViewer* viewer, QWidget* modal) {
    if (viewer->parentWidget() == modal)
        return;
    const bool shown = !viewer->isHidden();
    const QRect frame = viewer->geometry();
    viewer->setParent(modal, Qt::Window);
    if (shown) {
        viewer->setGeometry(frame);
        viewer->show();
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        QObject::connect(dialog, &QDialog::finished, viewer, [viewer, dialog] {
            QWidget* next = QApplication::activeModalWidget();
            if (viewer->parentWidget() == dialog)
                placeOver(viewer, next == dialog ? nullptr : next);
        });
}

} // namespace

QWidget* htmlHelp(const std::string& path, unsigned command, std::uintptr_t data) {
    auto& viewer = viewerWindow();
    if (command == HH_CLOSE_ALL) {
        delete viewer.data();
        return nullptr;
    }
    if (command != HH_HELP_CONTEXT)
        return nullptr;
    const HelpPathParts parts = splitHelpPath(path);
    if (!viewer)
        viewer = new HelpViewer(outsideLinkOpener());
    if (!viewer->openFile(parts.file)) {
        // A window made for this request alone goes again; a shown one keeps its topic.
        if (!viewer->isVisible())
            delete viewer.data();
        return nullptr;
    }
    viewer->showContext(static_cast<std::uint32_t>(data));
    placeOver(viewer, QApplication::activeModalWidget());
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer.data();
}

void initHelp(const std::string& programPath, OutsideLinkOpener openOutside) {
    outsideLinkOpener() = std::move(openOutside);
    initHelpUnits(programPath);
    loadHelpViewer(&htmlHelp);
}

void finishHelp() {
    htmlHelp({}, HH_CLOSE_ALL, 0);
    loadHelpViewer({});
    outsideLinkOpener() = nullptr;
}

} // namespace tonvert
