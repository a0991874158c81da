#pragma once

#include <string>

namespace tonvert::service {

// The address a request came from: its peer's, unless the peer is this machine's loopback (the
// front proxy on the same host, as deploy/nginx sets it up) and names the client in its
// X-Real-IP header. A client reaching the service directly cannot name another address.
std::string clientAddress(const std::string& peer, const std::string& realIpHeader);

} // namespace tonvert::service
