#pragma once

#include <string>

namespace tonvert {

// True when `host` is to be reached directly rather than through the proxy. The list holds
// entries separated by "," or ";", blanks around them ignored. An entry matches the host
// without regard to case, "*" standing for any run of characters; "<local>" matches every
// name without a dot; an entry's ":port" is not part of the comparison.
bool bypassesProxy(const std::string& bypassList, const std::string& host);

} // namespace tonvert
