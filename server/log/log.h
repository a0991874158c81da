#pragma once

#include <chrono>
#include <sstream>
#include <string>
#include <string_view>

namespace tonvert::service {

enum class LogLevel { info, warning, error };

// A log line as the service writes it: the time in RFC 3339 (UTC, milliseconds), the level and
// the event, ending in a newline. An event is always one line whatever text it quotes: its
// line breaks and tabs become blanks, other control characters escapes.
std::string logText(std::chrono::system_clock::time_point time, LogLevel level,
                    std::string_view event);

// Writes one line to the standard error stream, where journald or the operator's terminal
// keeps it; lines of threads never interleave.
void writeLog(LogLevel level, std::string_view event);

// An event put together with <<, written when the statement ends:
//     logWarning() << "fetching " << name << " failed: " << error;
class LogLine {
public:
    explicit LogLine(LogLevel level)
        : level_(level) {}
    ~LogLine() { writeLog(level_, event_.str()); }
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T> LogLine& operator<<(const T& value) {
        event_ << value;
        return *this;
    }

private:
    LogLevel level_;
    std::ostringstream event_;
};

inline LogLine logInfo() {
    return LogLine(LogLevel::info);
}
inline LogLine logWarning() {
    return LogLine(LogLevel::warning);
}
inline LogLine logError() {
    return LogLine(LogLevel::error);
}

} // namespace tonvert::service
