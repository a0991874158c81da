#pragma once

#include <atomic>

namespace tonvert {

// One abort for the whole program: any transfer's abort ends every transfer. Cleared when a
// transfer starts.
extern std::atomic<bool> abortRequested;
// Set once when the application is closing: transfers end as if aborted.
extern std::atomic<bool> applicationTerminating;

inline bool transferAborted() {
    return abortRequested.load(std::memory_order_relaxed) ||
           applicationTerminating.load(std::memory_order_relaxed);
}

} // namespace tonvert
