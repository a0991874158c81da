#include "hh.h"

#include <QPointer>

#include "helpViewer.h"
#include "hh_funcs.h"

namespace tonvert {

namespace {
QPointer<HelpViewer>& viewerWindow() {
    static QPointer<HelpViewer> viewer;
    return viewer;
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
        viewer = new HelpViewer;
    if (!viewer->openFile(parts.file)) {
        // A window made for this request alone goes again; a shown one keeps its topic.
        if (!viewer->isVisible())
            delete viewer.data();
        return nullptr;
    }
    viewer->showContext(static_cast<std::uint32_t>(data));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer.data();
}

void initHelp(const std::string& programPath) {
    initHelpUnits(programPath);
    loadHelpViewer(&htmlHelp);
}

void finishHelp() {
    htmlHelp({}, HH_CLOSE_ALL, 0);
    loadHelpViewer({});
}

} // namespace tonvert
