#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "process/stop.h"
#include "store/store.h"

namespace tonvert::service {

// How a process waits for a database that does not answer yet: the first delay, doubled after
// each failed attempt up to the longest.
struct StoreWait {
    std::chrono::milliseconds first{500};
    std::chrono::milliseconds longest{30'000};
};

// Opens the store with `open`; while the database cannot be reached (down, starting, not
// made yet), logs why and the next delay, and tries again, until it opens or a stop comes
// (nullptr then). `waiting` is called once, when the first attempt failed. Any other failure
// is thrown as it is.
std::unique_ptr<Store> openStoreWhenUp(const std::function<std::unique_ptr<Store>()>& open,
                                       const StoreWait& wait, Stop& stop,
                                       const std::function<void()>& waiting = {});

} // namespace tonvert::service
