#pragma once

#include "messagePump.h"

class QThread;

namespace tonvert {

// Keeps the GUI alive while a transfer waits: each turn handles the window's events, sleeping
// until one arrives, the worker wakes it, or the turn's time is up.
class QtMessagePump : public MessagePump {
public:
    QtMessagePump();
    void pump(std::chrono::milliseconds maxWait) override;
    void wake() override;

private:
    QThread* guiThread_;
};

} // namespace tonvert
