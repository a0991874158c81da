#pragma once

#include "shell.h"

namespace tonvert {

// The desktop's own handlers for web addresses and files.
class QtShell : public Shell {
public:
    void openUrl(const std::string& url) override;
};

} // namespace tonvert
