#pragma once

#include <cstdint>
#include <string>

namespace tonvert::service {

// Cents as the client shows money, in the replies, the pages and the mails: 1250 cents is
// "12.50".
std::string money(std::int64_t cents);

} // namespace tonvert::service
