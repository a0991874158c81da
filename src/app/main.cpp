#include <QApplication>

#include "applicationIcon.h"
#include "closeOnSignals.h"
#include "connectionState.h"
#include "hh.h"
#include "mainUnit.h"
#include "netAbort.h"
#include "qtMessagePump.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "systemClock.h"
#include "textCodec.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tonvert"));
    // Every window, dialog and message box shows the program's icon; the desktop matches the
    // windows to the installed entry tonvert.desktop.
    tonvert::setApplicationIcon();
    QGuiApplication::setDesktopFileName(QStringLiteral("tonvert"));
    // A transfer that runs when the window closes ends at once.
    QObject::connect(&application, &QGuiApplication::lastWindowClosed,
                     [] { tonvert::applicationTerminating = true; });

    const std::string programPath = tonvert::toBytes(QCoreApplication::applicationFilePath());
    // The help units know the program's folders and the viewer before any window exists.
    tonvert::initHelp(programPath);

    tonvert::QtPrompts prompts;
    tonvert::QtShell shell;
    tonvert::PermanentConnection connection;
    tonvert::QtMessagePump pump;
    tonvert::SystemClock clock;
    tonvert::TmainForm mainForm(programPath, {prompts, shell, connection, pump, clock});
    prompts.setParent(&mainForm);
    // A logout, Ctrl+C or a kill closes the window as its close box does: the layout is
    // kept and a running transfer ends.
    const tonvert::CloseOnSignals closeOnSignals([&mainForm] { mainForm.close(); });
    mainForm.show();
    const int code = QApplication::exec();
    tonvert::finishHelp();
    return code;
}
