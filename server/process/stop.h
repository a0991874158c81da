#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tonvert::service {

// A process's stop, asked for by any thread (the one that takes its signals), waking whoever
// sleeps on it at once.
class Stop {
public:
    void request();
    bool requested() const;
    // Sleeps for `time` unless a stop comes first; true when stopped.
    bool sleepFor(std::chrono::milliseconds time);
    // Sleeps until a stop comes.
    void wait();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
};

// Blocks SIGINT and SIGTERM in the calling thread and in the threads it starts from now on,
// for StopSignals to take: before threads that start ahead of it.
void blockStopSignals();

// Takes SIGINT and SIGTERM for the whole process on a thread of its own, which asks for the
// stop. Made before any other thread, which inherits the signals blocked.
class StopSignals {
public:
    explicit StopSignals(Stop& stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::thread taker_;
};

} // namespace tonvert::service
