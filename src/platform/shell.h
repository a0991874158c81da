#pragma once

#include <string>

namespace tonvert {

// What the program asks of the desktop: opening web pages and files with the programs the
// user chose for them. The application uses the desktop's; tests record the requests.
class Shell {
public:
    virtual ~Shell() = default;
    // Opens a web address in the user's browser. The outcome is not reported.
    virtual void openUrl(const std::string& url) = 0;
};

} // namespace tonvert
