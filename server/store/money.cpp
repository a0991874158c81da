#include "store/money.h"

#include <cstdio>
#include <cstdlib>

namespace tonvert::service {

std::string money(std::int64_t cents) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(cents) / 100),
                  static_cast<long long>(std::llabs(cents) % 100));
    return text;
}

} // namespace tonvert::service
