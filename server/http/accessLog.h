#pragma once

#include <string>

#include "http/httpListener.h"

namespace tonvert::service {

// The access log's event for a request answered:
//     access method=GET path=/cgi-bin/wmn.pl status=200 bytes=18 ms=0.412 account=alice
// The path never comes with its query, which carries the client's password; the account is
// the user the request names ("-" for none). Bytes a log line should not hold are written as
// percent escapes.
std::string accessEvent(const ServedRequest& served);

} // namespace tonvert::service
