#include "netWorker.h"

namespace tonvert {

void NetWorkerState::setOnDone(std::function<void()> onDone) {
    std::lock_guard lock(onDoneMutex_);
    onDone_ = std::move(onDone);
}

void NetWorkerState::finish() {
    done.store(true, std::memory_order_release);
    std::lock_guard lock(onDoneMutex_);
    if (onDone_)
        onDone_();
}

NetWorker::NetWorker()
    : state_(std::make_shared<NetWorkerState>()) {}

NetWorker::~NetWorker() {
    state_->setOnDone(nullptr);
    if (!thread_.joinable())
        return;
    if (done())
        thread_.join();
    else
        thread_.detach(); // it holds its own share of the state and ends by itself
}

void NetWorker::start(std::function<void(NetWorkerState&)> execute) {
    thread_ = std::thread([state = state_, execute = std::move(execute)] {
        try {
            execute(*state);
        } catch (const std::exception& error) {
            state->succeeded = false;
            state->message = error.what();
        } catch (...) {
            state->succeeded = false;
            state->message = "Out of memory!";
        }
        state->finish();
    });
}

} // namespace tonvert
