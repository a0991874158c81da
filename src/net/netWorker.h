#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tonvert {

// Replies kept in memory are the service's short texts; a longer one is cut off and the
// transfer fails rather than take all memory.
inline constexpr std::size_t kMaxReplyInMemory = 64u << 20;

// The results of a transfer worker, shared between its thread and its owner. The worker
// writes `succeeded`, `message` and `reply`, then sets `done`; the owner reads them only after
// it has seen `done`. An owner that gives up on a worker drops its share and the worker's
// thread keeps the state alive until it ends.
struct NetWorkerState {
    std::atomic<bool> done{false};
    std::atomic<double> progress{0.0};
    std::atomic<bool> cancelled{false}; // the owner gave this transfer up
    bool succeeded = false;
    std::string message;
    std::string reply;

    // Told when the worker is done; the owner clears it before it leaves.
    void setOnDone(std::function<void()> onDone);
    void finish();

private:
    std::mutex onDoneMutex_;
    std::function<void()> onDone_;
};

// A transfer on a thread of its own. The thread starts in the constructor; the destructor
// waits for a finished thread and leaves one that is still running to end by itself.
class NetWorker {
public:
    NetWorker(const NetWorker&) = delete;
    NetWorker& operator=(const NetWorker&) = delete;
    virtual ~NetWorker();

    bool done() const { return state_->done.load(std::memory_order_acquire); }
    double progress() const { return state_->progress.load(std::memory_order_relaxed); }
    // Meaningful once done.
    bool succeeded() const { return state_->succeeded; }
    const std::string& message() const { return state_->message; }
    const std::string& reply() const { return state_->reply; }

    void setOnDone(std::function<void()> onDone) { state_->setOnDone(std::move(onDone)); }
    // Stops this transfer at its next check, whatever later transfers do with the abort.
    void cancel() { state_->cancelled = true; }

protected:
    NetWorker();
    // Starts `execute` on the worker's thread; it fills the state, `finish` follows.
    void start(std::function<void(NetWorkerState&)> execute);

private:
    std::shared_ptr<NetWorkerState> state_;
    std::thread thread_;
};

} // namespace tonvert
