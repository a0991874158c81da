#pragma once

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace tonvert::service {

// One option of a program: its name, the word its value stands for (none for a flag), one line
// of help, and what it sets. A setter throws std::invalid_argument (std::stoll's errors are
// taken alike) for a value it cannot take.
struct Option {
    const char* name;
    const char* value;
    const char* help;
    std::function<void(const std::string&)> set;
};

// How reading a command line ended.
struct CommandLine {
    bool ok = false;
    bool help = false; // --help was asked for: the usage goes to standard output
    std::string error; // why the command line was refused
};

// An option's whole-number value: "12abc" is no number of anything, nor is one below `least`.
// Throws std::invalid_argument otherwise.
long long wholeNumber(const std::string& text, long long least = LLONG_MIN);

// An option's HOST:PORT value, given back: an address, a colon and a port number. A port alone
// is refused, since a library would listen on every interface with it. Throws
// std::invalid_argument otherwise.
std::string hostAndPort(const std::string& text);

// Reads the arguments by the table; the first unknown option, missing value or refused value
// ends it.
CommandLine readCommandLine(int argc, char** argv, const std::vector<Option>& options);

// The usage: the synopsis, then every option with its value's word and its help.
std::string usageText(const std::string& synopsis, const std::vector<Option>& options);

} // namespace tonvert::service
