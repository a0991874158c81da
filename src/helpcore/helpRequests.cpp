#include "helpRequests.h"

#include <utility>

namespace tonvert {

namespace {
// GUI thread only, like every help request.
HelpHandler currentHandler;
} // namespace

HelpHandler installHelpHandler(HelpHandler handler) {
    return std::exchange(currentHandler, std::move(handler));
}

bool requestHelp(int command, long data) {
    if (!currentHandler)
        return false;
    // The handler may replace itself while it runs: call a copy.
    const HelpHandler handler = currentHandler;
    bool callHelp = true;
    return handler(command, data, callHelp);
}

} // namespace tonvert
