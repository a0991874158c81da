#pragma once

#include <QObject>
#include <functional>

class QEvent;
class QSocketNotifier;

namespace tonvert {

// Turns SIGTERM, SIGINT and SIGHUP (a session's logout, Ctrl+C in a terminal) into a call
// on the GUI thread, so that the program closes as if by its close box. Modal windows in the
// way (a message, a transfer's dialog) close first, as their close boxes would, and so does
// any that opens while the program closes; then `close` runs. The signal handler only
// writes a byte into a pipe; the GUI thread reads it.
class CloseOnSignals : public QObject {
public:
    explicit CloseOnSignals(std::function<void()> close, QObject* parent = nullptr);
    ~CloseOnSignals() override;
    CloseOnSignals(const CloseOnSignals&) = delete;
    CloseOnSignals& operator=(const CloseOnSignals&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeEverything();
    static void closeModalWindows();

    std::function<void()> close_;
    bool closing_ = false;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tonvert
