#pragma once

#include <functional>
#include <string>

namespace tonvert {

// Notices on the desktop, outside the program's windows. The application sends them to the
// desktop's notification service; tests record them. Without such a service nothing is shown
// and nothing fails.
class Notifications {
public:
    virtual ~Notifications() = default;
    // Shows `summary` and `body`; when `actionLabel` is not empty the notice offers that action,
    // and `onAction` runs (on the GUI thread) if the user picks it.
    virtual void notify(const std::string& summary, const std::string& body,
                        const std::string& actionLabel, std::function<void()> onAction) = 0;
};

} // namespace tonvert
