#include "options/commandLine.h"

#include <algorithm>
#include <stdexcept>

namespace tonvert::service {

long long wholeNumber(const std::string& text, long long least) {
    std::size_t used = 0;
    const long long value = std::stoll(text, &used);
    if (used != text.size() || value < least)
        throw std::invalid_argument(text);
    return value;
}

std::string hostAndPort(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == 0 || colon == std::string::npos || text.size() - colon > 6 ||
        wholeNumber(text.substr(colon + 1), 0) > 65535)
        throw std::invalid_argument(text);
    return text;
}

CommandLine readCommandLine(int argc, char** argv, const std::vector<Option>& options) {
    CommandLine read;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            read.help = true;
            return read;
        }
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&](const Option& o) { return word == o.name; });
        if (option == options.end()) {
            read.error = "unknown option " + word;
            return read;
        }
        if (option->value != nullptr && i + 1 >= argc) {
            read.error = word + " needs a value (" + option->value + ")";
            return read;
        }
        const std::string value = option->value != nullptr ? argv[++i] : "";
        try {
            option->set(value);
        } catch (const std::exception&) {
            read.error = word + " cannot take \"" + value + "\"";
            return read;
        }
    }
    read.ok = true;
    return read;
}

std::string usageText(const std::string& synopsis, const std::vector<Option>& options) {
    std::string text = "usage: " + synopsis + "\n\noptions:\n";
    for (const Option& option : options) {
        std::string left = std::string("  ") + option.name;
        if (option.value != nullptr)
            left += std::string(" ") + option.value;
        left.resize(std::max<std::size_t>(left.size() + 2, 34), ' ');
        text += left + option.help + "\n";
    }
    return text + "  --help                          this text\n";
}

} // namespace tonvert::service
