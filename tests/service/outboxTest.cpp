// Mails in the development outbox are kept for a number of days, by their files' times.

#include <atomic>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/time.h>

#include "queue/mailer.h"
#include "testFiles.h"

namespace tonvert {
namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

// A mail file written so many seconds before `now`.
void writeAged(const std::string& path, std::int64_t now, std::int64_t age) {
    test::writeBytes(path, "From: old\r\n\r\nold mail\r\n");
    const timeval times[2] = {{static_cast<time_t>(now - age), 0},
                              {static_cast<time_t>(now - age), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

TEST(Outbox, MailOlderThanItsDaysGoesAtStartAndAtMostHourlyAfter) {
    test::TempFolder folder;
    const std::string outbox = folder.file("outbox");
    std::filesystem::create_directories(outbox);
    const std::int64_t start = std::time(nullptr);
    std::atomic<std::int64_t> clock = start;
    const auto exists = [&](const char* name) {
        return std::filesystem::exists(outbox + "/" + name);
    };
    const auto mails = [&] {
        return std::distance(std::filesystem::directory_iterator(outbox), {});
    };
    writeAged(outbox + "/old.eml", start, 8 * kDay);
    writeAged(outbox + "/.old.part", start, 8 * kDay); // a write that never ended
    writeAged(outbox + "/recent.eml", start, 6 * kDay);

    service::Mailer mailer(outbox, "noreply@test.localhost", "", {7, [&] { return clock.load(); }});
    EXPECT_FALSE(exists("old.eml"));
    EXPECT_FALSE(exists(".old.part"));
    EXPECT_TRUE(exists("recent.eml"));

    // Within the hour since the last look, an old mail stays; after it, it goes as mail is
    // sent. Mail just sent stays.
    writeAged(outbox + "/aged.eml", start, 8 * kDay);
    clock = start + 3599;
    ASSERT_TRUE(mailer.send("ann@example.org", "First", "first"));
    EXPECT_TRUE(exists("aged.eml"));
    clock = start + 3600;
    ASSERT_TRUE(mailer.send("ann@example.org", "Second", "second"));
    EXPECT_FALSE(exists("aged.eml"));
    EXPECT_EQ(mails(), 3);

    // Two days on, the six days old mail is eight days old.
    clock = start + 2 * kDay;
    ASSERT_TRUE(mailer.send("ann@example.org", "Third", "third"));
    EXPECT_FALSE(exists("recent.eml"));
    EXPECT_EQ(mails(), 3);

    // Kept for ever when told so.
    writeAged(outbox + "/ancient.eml", start, 400 * kDay);
    service::Mailer keeping(outbox, "noreply@test.localhost", "",
                            {0, [&] { return clock.load(); }});
    ASSERT_TRUE(keeping.send("ann@example.org", "Fourth", "fourth"));
    EXPECT_TRUE(exists("ancient.eml"));
}

} // namespace
} // namespace tonvert
