#include "store/storeWait.h"

#include <algorithm>

#include "log/log.h"
#include "store/sql.h"

namespace tonvert::service {

namespace {

// SQLSTATE class 08: the connection could not be made or was lost.
bool unreachable(const SqlError& failure) {
    return failure.state.rfind("08", 0) == 0;
}

} // namespace

std::unique_ptr<Store> openStoreWhenUp(const std::function<std::unique_ptr<Store>()>& open,
                                       const StoreWait& wait, Stop& stop,
                                       const std::function<void()>& waiting) {
    std::chrono::milliseconds delay = wait.first;
    for (unsigned attempt = 1;; ++attempt) {
        try {
            auto store = open();
            if (attempt > 1)
                logInfo() << "the store answers after " << attempt << " attempts";
            return store;
        } catch (const SqlError& failure) {
            if (!unreachable(failure))
                throw;
            logWarning() << "waiting for the store, again in " << delay.count()
                         << " ms: " << failure.what();
        }
        if (attempt == 1 && waiting)
            waiting();
        if (stop.sleepFor(delay))
            return nullptr;
        delay = std::min(delay * 2, wait.longest);
    }
}

} // namespace tonvert::service
