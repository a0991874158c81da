#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tonvert {

// Turns SIGTERM, SIGINT and SIGHUP (a session's logout, Ctrl+C in a terminal) into a call
// on the GUI thread, so that the program closes as if by its close box. The signal handler
// only writes a byte into a pipe; the GUI thread reads it.
class CloseOnSignals : public QObject {
public:
    explicit CloseOnSignals(std::function<void()> close, QObject* parent = nullptr);
    ~CloseOnSignals() override;
    CloseOnSignals(const CloseOnSignals&) = delete;
    CloseOnSignals& operator=(const CloseOnSignals&) = delete;

private:
    std::function<void()> close_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tonvert
