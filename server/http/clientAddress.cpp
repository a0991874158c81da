#include "http/clientAddress.h"

#include <arpa/inet.h>

namespace tonvert::service {

namespace {

bool isLoopback(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

bool isAddress(const std::string& text) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, text.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

} // namespace

std::string clientAddress(const std::string& peer, const std::string& realIpHeader) {
    return isLoopback(peer) && isAddress(realIpHeader) ? realIpHeader : peer;
}

} // namespace tonvert::service
