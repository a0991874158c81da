#include "process/stop.h"

#include <csignal>
#include <pthread.h>

namespace tonvert::service {

void Stop::request() {
    {
        const std::lock_guard lock(mutex_);
        requested_ = true;
    }
    changed_.notify_all();
}

bool Stop::requested() const {
    const std::lock_guard lock(mutex_);
    return requested_;
}

bool Stop::sleepFor(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, time, [this] { return requested_; });
}

void Stop::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return requested_; });
}

namespace {

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

void blockStopSignals() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopSignals::StopSignals(Stop& stop) {
    const sigset_t signals = stopSignals();
    blockStopSignals();
    taker_ = std::thread([&stop, signals] {
        int taken = 0;
        sigwait(&signals, &taken);
        stop.request();
    });
}

StopSignals::~StopSignals() {
    // A stop that came from elsewhere: the taker still waits for its signal.
    pthread_kill(taker_.native_handle(), SIGTERM);
    taker_.join();
}

} // namespace tonvert::service
