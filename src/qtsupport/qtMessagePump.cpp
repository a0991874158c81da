#include "qtMessagePump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace tonvert {

QtMessagePump::QtMessagePump()
    : guiThread_(QThread::currentThread()) {}

void QtMessagePump::pump(std::chrono::milliseconds maxWait) {
    if (maxWait.count() <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    // The timer's own event ends the wait when nothing else does.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(maxWait);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtMessagePump::wake() {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(guiThread_))
        dispatcher->wakeUp();
}

} // namespace tonvert
