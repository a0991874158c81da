#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tonvert {

// What keeps the owner of a transfer alive while it waits: the GUI handles its events here.
class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Handles what is pending, waiting at most `maxWait` for something to arrive; returns
    // early when woken.
    virtual void pump(std::chrono::milliseconds maxWait) = 0;
    // Ends the current or next wait at once. Safe from any thread.
    virtual void wake() = 0;
};

// A pump for owners without a GUI: it only sleeps until woken or the time is up.
class WaitingPump : public MessagePump {
public:
    void pump(std::chrono::milliseconds maxWait) override {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, maxWait, [this] { return wakeRequested_; });
        wakeRequested_ = false;
    }
    void wake() override {
        {
            std::lock_guard lock(mutex_);
            wakeRequested_ = true;
        }
        woken_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wakeRequested_ = false;
};

} // namespace tonvert
