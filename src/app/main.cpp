#include <QApplication>

#include "connectionState.h"
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
    // A transfer that runs when the window closes ends at once.
    QObject::connect(&application, &QGuiApplication::lastWindowClosed,
                     [] { tonvert::applicationTerminating = true; });

    tonvert::QtPrompts prompts;
    tonvert::QtShell shell;
    tonvert::PermanentConnection connection;
    tonvert::QtMessagePump pump;
    tonvert::SystemClock clock;
    tonvert::TmainForm mainForm(tonvert::toBytes(QCoreApplication::applicationFilePath()),
                                {prompts, shell, connection, pump, clock});
    prompts.setParent(&mainForm);
    mainForm.show();
    return QApplication::exec();
}
