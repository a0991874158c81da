#include <QTimer>
#include <QtTest>
#include <chrono>
#include <thread>

#include "qtMessagePump.h"

using namespace tonvert;
using namespace std::chrono_literals;

class MessagePumpTest : public QObject {
    Q_OBJECT
private slots:
    void handlesEventsAndWakesFromAnotherThread();
};

void MessagePumpTest::handlesEventsAndWakesFromAnotherThread() {
    QtMessagePump pump;

    // An event that is due runs inside a turn.
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    pump.pump(5000ms);
    QVERIFY(handled);

    // With nothing to do, a turn ends after its time.
    auto started = std::chrono::steady_clock::now();
    pump.pump(30ms);
    QVERIFY(std::chrono::steady_clock::now() - started >= 25ms);

    // A worker's wake ends a long wait early.
    std::thread worker([&] {
        std::this_thread::sleep_for(50ms);
        pump.wake();
    });
    started = std::chrono::steady_clock::now();
    pump.pump(20000ms);
    const auto waited = std::chrono::steady_clock::now() - started;
    worker.join();
    QVERIFY(waited < 10000ms);
}

QTEST_MAIN(MessagePumpTest)
#include "messagePumpTest.moc"
