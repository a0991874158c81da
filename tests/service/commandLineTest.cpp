// The service's programs read their command lines by one table of options.

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "options/commandLine.h"

namespace tonvert {
namespace {

using namespace service;

TEST(CommandLineTest, EveryWordIsAnOptionOfTheTableOrRefused) {
    struct Case {
        std::vector<std::string> words;
        bool ok, help;
        std::string error, out, flag;
    };
    const Case cases[] = {
        {{"--out", "DIR", "--flag"}, true, false, "", "DIR", "on"},
        {{"--help", "--unknown"}, false, true, "", "", ""},
        {{"--jobs", "2"}, false, false, "unknown option --jobs", "", ""},
        {{"a.mid"}, false, false, "unknown option a.mid", "", ""},
        {{"--out"}, false, false, "--out needs a value (DIR)", "", ""},
        {{"--count", "12abc"}, false, false, "--count cannot take \"12abc\"", "", ""},
    };
    for (const Case& c : cases) {
        std::string out, flag;
        const std::vector<Option> table{
            {"--out", "DIR", "where", [&](const std::string& v) { out = v; }},
            {"--flag", nullptr, "a flag", [&](const std::string&) { flag = "on"; }},
            {"--count", "N", "how many",
             [](const std::string& v) {
                 std::size_t used = 0;
                 std::stoll(v, &used);
                 if (used != v.size())
                     throw std::invalid_argument(v);
             }},
        };
        std::vector<char*> argv{const_cast<char*>("program")};
        for (const std::string& word : c.words)
            argv.push_back(const_cast<char*>(word.c_str()));
        const CommandLine read = readCommandLine(static_cast<int>(argv.size()), argv.data(), table);
        EXPECT_EQ(read.ok, c.ok) << c.words[0];
        EXPECT_EQ(read.help, c.help) << c.words[0];
        EXPECT_EQ(read.error, c.error);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(flag, c.flag);
        const std::string usage = usageText("program [options]", table);
        for (const Option& option : table)
            EXPECT_NE(usage.find(option.name), std::string::npos) << option.name;
    }
}

} // namespace
} // namespace tonvert
