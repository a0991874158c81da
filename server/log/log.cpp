#include "log/log.h"

#include <cstdio>
#include <ctime>
#include <iostream>

namespace tonvert::service {

namespace {

const char* levelName(LogLevel level) {
    switch (level) {
    case LogLevel::info:
        return "info";
    case LogLevel::warning:
        return "warning";
    case LogLevel::error:
        return "error";
    }
    return "info";
}

std::string rfc3339(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since = time.time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(since).count();
    const auto millis = duration_cast<milliseconds>(since).count() % 1000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

} // namespace

std::string logText(std::chrono::system_clock::time_point time, LogLevel level,
                    std::string_view event) {
    std::string line = rfc3339(time) + " " + levelName(level) + " ";
    const std::size_t eventStart = line.size();
    for (const char c : event) {
        const auto byte = static_cast<unsigned char>(c);
        // Line breaks and tabs within an event (a database's message) become one blank.
        if (c == '\n' || c == '\r' || c == '\t') {
            if (line.size() > eventStart && line.back() != ' ')
                line += ' ';
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    while (line.size() > eventStart && line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

void writeLog(LogLevel level, std::string_view event) {
    // The standard error stream is unbuffered and locked per call: a line goes out whole.
    const std::string line = logText(std::chrono::system_clock::now(), level, event);
    std::clog.write(line.data(), static_cast<std::streamsize>(line.size()));
}

} // namespace tonvert::service
