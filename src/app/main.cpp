#include <QApplication>
#include <cstdio>
#include <string>
#include <string_view>

#include "aboutUnit.h"
#include "applicationIcon.h"
#include "closeOnSignals.h"
#include "connectionState.h"
#include "dirsUnit.h"
#include "hh.h"
#include "mainUnit.h"
#include "netAbort.h"
#include "openers.h"
#include "qtMessagePump.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "systemClock.h"
#include "textCodec.h"

int main(int argc, char* argv[]) {
    // Answered before the application object, which needs a display.
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--version") {
            std::printf("Tonvert %s\n", tonvert::programVersion().c_str());
            return 0;
        }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tonvert"));
    // Every window, dialog and message box shows the program's icon; the desktop matches the
    // windows to the installed entry tonvert.desktop.
    tonvert::setApplicationIcon();
    QGuiApplication::setDesktopFileName(QStringLiteral("tonvert"));
    // A transfer that runs when the window closes ends at once.
    QObject::connect(&application, &QGuiApplication::lastWindowClosed,
                     [] { tonvert::applicationTerminating = true; });

    tonvert::QtPrompts prompts;
    tonvert::QtShell shell;
    const std::string programPath = tonvert::toBytes(QCoreApplication::applicationFilePath());
    // The help units know the program's folders and the viewer before any window exists; the
    // manual's links to web pages open as every web page does.
    tonvert::initHelp(programPath, [&prompts, &shell](const std::string& address) {
        tonvert::openUrlOrSay(prompts, shell, address);
    });
    tonvert::PermanentConnection connection;
    tonvert::QtMessagePump pump;
    tonvert::SystemClock clock;
    // Installed, the program keeps its user's files in that user's own folders, made here
    // when missing; one that cannot be made is named on stderr, and its pane shows empty.
    const tonvert::ProgramPaths paths =
        tonvert::programPathsFor(programPath, tonvert::userFoldersFromEnvironment());
    if (std::string error; !tonvert::makeUserFolders(paths, error))
        std::fprintf(stderr, "tonvert: %s\n", error.c_str());
    tonvert::TmainForm mainForm(paths, {prompts, shell, connection, pump, clock});
    prompts.setParent(&mainForm);
    // A logout, Ctrl+C or a kill closes the window as its close box does: the layout is
    // kept and a running transfer ends.
    const tonvert::CloseOnSignals closeOnSignals([&mainForm] { mainForm.close(); });
    mainForm.show();
    const int code = QApplication::exec();
    tonvert::finishHelp();
    return code;
}
