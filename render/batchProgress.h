#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "batchPlan.h"
#include "midiRenderer.h"

namespace tonvert::render {

// What a batch tells as it goes. Each rendered file's figures go to `results` (one line, as
// the single-file command always printed them), each failure to `log` with its reason. The
// progress goes to `log` too: on a terminal one line kept up to date in place ("3/12 done,
// 2 rendering: Song.mid 45%"), elsewhere one line a finished file. Every call may come from
// any render's thread; the lock is held only to print.
class BatchProgress {
public:
    BatchProgress(std::FILE* results, std::FILE* log, bool inPlace, std::size_t total,
                  std::size_t slots, std::size_t width);

    void started(std::size_t slot, const std::string& input);
    void advanced(std::size_t slot, double fraction);
    // A report that says the render was stopped counts neither way: the batch is ending.
    void finished(std::size_t slot, const BatchJob& job, const RenderReport& report);
    // Closes the line kept in place.
    void end();

private:
    struct Slot {
        std::string name; // empty while the slot waits
        std::atomic<int> percent{-1};
    };
    std::string statusLocked() const;
    void drawLocked();

    std::FILE* results_;
    std::FILE* log_;
    const bool inPlace_;
    const std::size_t total_;
    const std::size_t width_;
    std::mutex mutex_;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t slotCount_;
    std::unique_ptr<Slot[]> slots_;
};

} // namespace tonvert::render
