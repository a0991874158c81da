#include <QApplication>

#include "mainUnit.h"
#include "qtPrompts.h"
#include "qtShell.h"
#include "textCodec.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tonvert"));

    tonvert::QtPrompts prompts;
    tonvert::QtShell shell;
    tonvert::TmainForm mainForm(tonvert::toBytes(QCoreApplication::applicationFilePath()), prompts,
                                shell);
    prompts.setParent(&mainForm);
    mainForm.show();
    return QApplication::exec();
}
