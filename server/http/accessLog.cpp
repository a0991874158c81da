#include "http/accessLog.h"

#include "protocol/requestFields.h"

#include <cstdio>

namespace tonvert::service {

namespace {

// The longest account name logged: a request may name any text.
constexpr std::size_t kMaxAccountBytes = 64;

std::string logValue(const std::string& text) {
    if (text.empty())
        return "-";
    std::string value;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '%' || c == '"') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            value += escaped;
        } else {
            value += c;
        }
    }
    return value;
}

} // namespace

std::string accessEvent(const ServedRequest& served) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(served.duration.count()) / 1000.0);
    return "access method=" + logValue(served.request.method) +
           " path=" + logValue(served.request.path) +
           " status=" + std::to_string(served.response.status) +
           " bytes=" + std::to_string(served.bodyBytes) + " ms=" + ms +
           " account=" + logValue(clientField(served.request, "UID").substr(0, kMaxAccountBytes));
}

} // namespace tonvert::service
