#include "modalDriver.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWidget>

namespace tonvert::test {

ModalDriver::ModalDriver() {
    connect(&timer_, &QTimer::timeout, this, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            current_ = nullptr;
        if (modal == nullptr || modal == current_ ||
            modal->objectName() == QLatin1String("aboutForm"))
            return;
        // A dialog is handled once per showing; the handler may run a nested loop.
        current_ = modal;
        const QPointer<QWidget> guard(modal);
        seen << modal->objectName();
        const auto handler = handlers_.find(modal->objectName());
        if (handler != handlers_.end())
            handler->second(*modal);
        else
            modal->close();
        // A check that failed inside the handler must not leave the test waiting on it.
        if (QTest::currentTestFailed() && !guard.isNull() && guard->isVisible())
            guard->close();
        if (guard.isNull() || !guard->isVisible())
            current_ = nullptr;
    });
    timer_.start(10);
}

} // namespace tonvert::test
