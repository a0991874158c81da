// Accounts against guessing, flooding and lost mail: the whole service over real HTTP on
// loopback. Delays are observed through the service's wait, never timed.

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "serviceFixture.h"

namespace tonvert {
namespace {

using namespace service;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

// The answers the service held back, in order; held until released when `blocking`.
struct Holds {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<milliseconds> times;
    bool blocking = false;
    bool released = false;

    void hold(milliseconds time) {
        std::unique_lock lock(mutex);
        times.push_back(time);
        changed.notify_all();
        changed.wait(lock, [this] { return !blocking || released; });
    }
    std::vector<milliseconds> all() {
        std::lock_guard lock(mutex);
        return times;
    }
    // Waits for so many holds to have begun; false when they never do.
    bool begun(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return times.size() >= count; });
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

class AccountSecurityTest : public test::ServiceFixture {
protected:
    std::size_t mails() {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(store->folder() + "/outbox"))
            count += entry.path().extension() == ".eml";
        return count;
    }
    Account stored(const std::string& user) {
        auto found = store->account(user);
        EXPECT_TRUE(found) << user;
        return found.value_or(Account{});
    }
    const Credentials& credentials() { return loopback->commands().credentials(); }
    // A request on a connection of its own, for requests side by side.
    std::string ask(const std::string& user, const std::string& password) {
        httplib::Client client("127.0.0.1", loopback->port());
        const std::string url = serviceRequestUrl(host, user, password, "viewfunds");
        const auto reply = client.Get(url.substr(url.find('/', 7)));
        return reply ? reply->body : "no reply";
    }
    void slowDown(std::int64_t freeFailures) {
        stop();
        config.loginDelays.freeFailures = freeFailures;
        config.loginDelays.first = 8ms;
        config.loginDelays.longest = 64ms;
        config.loginDelays.wait = [this](milliseconds time) { holds.hold(time); };
        config.guessLimits.perAccount.burst = 100; // every wrong password checked
        start();
    }
    // With mail failing: a sign-up leaves no account, and a reset leaves the password and
    // the reset before it as they were. `pending` is the mailed password of that reset.
    void expectFailedMailsUndone(const std::string& user, const std::string& password,
                                 const std::string& pending) {
        const Account before = stored(user);
        EXPECT_EQ(get(signupRequestUrl(host, "new@example.org")), "!ERR 1005");
        EXPECT_FALSE(store->account("new@example.org"));
        EXPECT_EQ(command(user, "", "getnewpwd"), "!ERR 1005");
        const Account after = stored(user);
        EXPECT_EQ(after.passwordHash, before.passwordHash);
        EXPECT_EQ(after.pendingPasswordHash, before.pendingPasswordHash);
        EXPECT_EQ(after.lastReset, before.lastReset);
        EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
        EXPECT_EQ(command(user, pending, "listmidi"), "!VAL 0\r\n") << "the earlier reset";
    }

    Holds holds;
};

TEST_F(AccountSecurityTest, ResetKeepsTheOldPasswordUntilTheNewOneIsUsed) {
    const std::string user = "ann@example.org";
    const std::string old = account(user);
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    const std::string first = mailedPassword();
    ASSERT_EQ(first.size(), 10u);
    EXPECT_NE(first, old);
    const Account reset = stored(user);
    EXPECT_NE(reset.pendingPasswordHash, "");
    EXPECT_EQ(command(user, old, "viewfunds"), "!VAL 5.00") << "the old password still works";
    EXPECT_EQ(stored(user).pendingPasswordHash, reset.pendingPasswordHash);

    // Asked again within 10 minutes: the same answer, and no mail, nothing changed.
    const std::size_t sent = mails();
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    later(599);
    EXPECT_EQ(command(user, "wrong", "getnewpwd"), "!VAL password sent");
    EXPECT_EQ(mails(), sent);
    EXPECT_EQ(stored(user).pendingPasswordHash, reset.pendingPasswordHash);
    EXPECT_EQ(stored(user).lastReset, reset.lastReset);

    // Ten minutes on, a new reset replaces the one never used.
    later(1);
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    EXPECT_EQ(mails(), sent + 1);
    const std::string second = mailedPassword();
    EXPECT_EQ(command(user, first, "viewfunds"), "!ERR 1019");
    EXPECT_EQ(command(user, old, "viewfunds"), "!VAL 5.00");

    // Used once, the new password is the only one.
    EXPECT_EQ(command(user, second, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(stored(user).pendingPasswordHash, "");
    EXPECT_EQ(command(user, old, "viewfunds"), "!ERR 1019");
    EXPECT_EQ(command(user, second, "listmidi"), "!VAL 0\r\n");
    EXPECT_EQ(command("nobody@example.org", "", "getnewpwd"), "!ERR 1018");

    // An unconfirmed account is confirmed with either mailed password; the one used stays.
    const std::string bob = "bob@example.org";
    EXPECT_EQ(get(signupRequestUrl(host, bob)), "!VAL signed up");
    const std::string signedUp = mailedPassword();
    EXPECT_EQ(command(bob, "", "getnewpwd"), "!VAL password sent");
    const std::string renewed = mailedPassword();
    EXPECT_EQ(command(bob, renewed, "viewfunds"), "!ERR 1020");
    EXPECT_EQ(command(bob, renewed, "confirm"), "!VAL confirmed");
    EXPECT_EQ(command(bob, signedUp, "viewfunds"), "!ERR 1019");
    EXPECT_EQ(command(bob, renewed, "viewfunds"), "!VAL 5.00");
}

TEST_F(AccountSecurityTest, SignupsAreLimitedPerAddress) {
    stop();
    config.signupsPerAddress = 2;
    start();
    EXPECT_EQ(get(signupRequestUrl(host, "a@example.org")), "!VAL signed up");
    later(10);
    EXPECT_EQ(get(signupRequestUrl(host, "b@example.org")), "!VAL signed up");
    const std::size_t sent = mails();
    EXPECT_EQ(get(signupRequestUrl(host, "c@example.org")), "!ERR 1005");
    EXPECT_EQ(get(signupRequestUrl(host, "A@example.org")), "!ERR 1010") << "told first";
    EXPECT_EQ(mails(), sent);
    EXPECT_FALSE(store->account("c@example.org"));
    later(3591);
    EXPECT_EQ(get(signupRequestUrl(host, "c@example.org")), "!VAL signed up");
    EXPECT_EQ(get(signupRequestUrl(host, "d@example.org")), "!ERR 1005") << "b's hour goes on";

    EXPECT_EQ(signupAddressKey("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(signupAddressKey("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(signupAddressKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(signupAddressKey("2001:DB8:1:2::9"), "2001:db8:1:2::/64");
    EXPECT_EQ(signupAddressKey("not an address"), "not an address");
}

TEST_F(AccountSecurityTest, WrongPasswordsInARowAreHeldBackLonger) {
    slowDown(2);
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019") << i;
    EXPECT_EQ(holds.all(), (std::vector<milliseconds>{8ms, 16ms, 32ms, 64ms, 64ms}));
    EXPECT_EQ(stored(user).failedLogins, 7);

    // The right password is answered at once, and the count starts again.
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(holds.all().size(), 5u);
    EXPECT_EQ(stored(user).failedLogins, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019") << i;
    ASSERT_EQ(holds.all().size(), 6u);
    EXPECT_EQ(holds.all().back(), 8ms);

    // The count outlives a restart, and is forgotten after a quiet hour.
    slowDown(2);
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");
    ASSERT_EQ(holds.all().size(), 7u);
    EXPECT_EQ(holds.all().back(), 16ms);
    later(3601);
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");
    EXPECT_EQ(holds.all().size(), 7u);
    EXPECT_EQ(stored(user).failedLogins, 1);

    // An unknown user has no count: nothing to hold back.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(command("nobody@example.org", "wrong", "viewfunds"), "!ERR 1018");
    EXPECT_EQ(holds.all().size(), 7u);
}

TEST_F(AccountSecurityTest, HeldAnswersNeverTakeTheWholeService) {
    holds.blocking = true;
    slowDown(0);
    const std::string ann = "ann@example.org", bob = "bob@example.org", cid = "cid@example.org";
    const std::string annPassword = account(ann);
    account(bob);
    account(cid);
    std::string first, second;
    std::vector<std::thread> held;
    struct Finish {
        Holds& holds;
        std::vector<std::thread>& threads;
        ~Finish() {
            holds.release();
            for (std::thread& thread : threads)
                thread.join();
        }
    } finish{holds, held};

    held.emplace_back([&] { first = ask(ann, "wrong"); });
    ASSERT_TRUE(holds.begun(1));
    EXPECT_EQ(ask(ann, "wrong"), "!ERR 1019") << "one held answer per account";
    held.emplace_back([&] { second = ask(bob, "wrong"); });
    ASSERT_TRUE(holds.begun(2));
    EXPECT_EQ(ask(cid, "wrong"), "!ERR 1019") << "no place left";
    EXPECT_EQ(holds.all().size(), 2u);

    // The owner, and everyone else, is answered while the two are held.
    EXPECT_EQ(ask(ann, annPassword), "!VAL 5.00");
    httplib::Client browser("127.0.0.1", loopback->port());
    const auto home = browser.Get("/");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 200);

    holds.release();
    for (std::thread& thread : held)
        thread.join();
    held.clear();
    EXPECT_EQ(first, "!ERR 1019");
    EXPECT_EQ(second, "!ERR 1019");
}

TEST_F(AccountSecurityTest, VerifiedPasswordsAreCachedAndUnknownUsersCostAHash) {
    std::atomic<std::int64_t> seconds = 0;
    stop();
    config.credentialClock = [&seconds] {
        return std::chrono::steady_clock::time_point(std::chrono::seconds(seconds.load()));
    };
    start();
    const std::string user = "ann@example.org";
    const auto hashes = [this] { return credentials().hashesVerified(); };
    const std::uint64_t before = hashes(), hits = credentials().cacheHits();
    // The password that sign-up mailed is known to the service: confirming with it costs
    // no hash.
    const std::string password = account(user);
    EXPECT_EQ(hashes(), before) << "sign-up and confirm verify no hash";
    EXPECT_EQ(credentials().cacheHits(), hits + 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");
    EXPECT_EQ(hashes(), before) << "a session's requests hash nothing";
    EXPECT_EQ(credentials().cacheHits(), hits + 6);

    // Wrong passwords are never taken on trust; an unknown user costs a hash as they do.
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");
    EXPECT_EQ(hashes(), before + 2);
    const std::uint64_t unknown = credentials().unknownVerified();
    EXPECT_EQ(command("nobody@example.org", "wrong", "viewfunds"), "!ERR 1018");
    EXPECT_EQ(credentials().unknownVerified(), unknown + 1);
    EXPECT_EQ(hashes(), before + 3);
    EXPECT_EQ(command("nobody@example.org", "", "viewfunds"), "!ERR 1018");
    EXPECT_EQ(command(user, "", "viewfunds"), "!ERR 1001");
    EXPECT_EQ(hashes(), before + 3) << "no password, no hash, for either";

    // Past its lifetime a password is verified again, once.
    seconds += 301;
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(hashes(), before + 4);

    // A reset leaves the old password trusted, as it still works; once the new one is used
    // the old one's trust is gone with its hash.
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    const std::string fresh = mailedPassword();
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(hashes(), before + 4);
    EXPECT_EQ(command(user, fresh, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(hashes(), before + 6) << "the old hash, then the pending one";
    EXPECT_EQ(command(user, fresh, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(hashes(), before + 6);
    EXPECT_EQ(command(user, password, "viewfunds"), "!ERR 1019");
    EXPECT_EQ(hashes(), before + 7);
}

TEST_F(AccountSecurityTest, GuessesArePaidForByTheGuessersAddress) {
    std::atomic<std::int64_t> trusted = 0, guessed = 0; // the two clocks, in seconds
    stop();
    const auto clockOf = [](std::atomic<std::int64_t>& seconds) {
        return [&seconds] { return std::chrono::steady_clock::time_point(1s * seconds.load()); };
    };
    config.credentialClock = clockOf(trusted);
    config.guessLimits.perAddress = {4, 10s};
    config.guessLimits.perAccount = {2, 60s};
    config.guessLimits.clock = clockOf(guessed);
    config.guessLimits.wait = [this](milliseconds time) { holds.hold(time); };
    start();
    const std::string ann = "ann@example.org", bob = "bob@example.org", nobody = "no@example.org";
    const std::string annPassword = account(ann), bobPassword = account(bob);
    trusted += 301; // neither password is trusted any more
    const std::string guesser = "192.0.2.1", owner = "2001:db8::1", bobs = "::ffff:203.0.113.3";
    struct Row {
        std::int64_t later; // seconds on the guesses' clock before the request
        std::string user, password, address, reply;
        std::uint64_t hashes; // verified for the request
        bool held;            // refused, and its answer held back
    };
    const std::vector<Row> rows = {
        {0, bob, bobPassword, bobs, "!VAL 5.00", 1, false},
        {0, bob, "wrong", bobs, "!ERR 1019", 1, false}, // the right one took no guess
        {0, bob, "wrong", bobs, "!ERR 1019", 1, false},
        {0, ann, "wrong", guesser, "!ERR 1019", 1, false},
        {0, ann, "wrong", guesser, "!ERR 1019", 1, false},
        {0, ann, "wrong", guesser, "!ERR 1019", 0, true}, // out of guesses at ann
        {0, nobody, "wrong", guesser, "!ERR 1018", 1, false},
        {0, nobody, "wrong", guesser, "!ERR 1018", 1, false},
        {0, nobody, "wrong", guesser, "!ERR 1019", 0, true}, // out of guesses at all
        {0, bob, "wrong", guesser, "!ERR 1019", 0, true},
        {0, bob, bobPassword, guesser, "!VAL 5.00", 0, false}, // trusted: answered at once
        {0, ann, annPassword, guesser, "!ERR 1019", 0, true},  // not trusted: not checked
        {0, ann, annPassword, owner, "!VAL 5.00", 1, false},   // from elsewhere at once
        {0, ann, annPassword, guesser, "!VAL 5.00", 0, false}, // trusted now
        {10, nobody, "wrong", guesser, "!ERR 1018", 1, false},
        {0, nobody, "wrong", guesser, "!ERR 1019", 0, true},
        {50, ann, "wrong", guesser, "!ERR 1019", 1, false},
        {0, ann, "wrong", guesser, "!ERR 1019", 0, true},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        guessed += row.later;
        const std::uint64_t hashes = credentials().hashesVerified();
        const std::size_t held = holds.all().size();
        const std::map<std::string, std::string> fields = {
            {"VER", "1.0"}, {"CMD", "viewfunds"}, {"UID", row.user}, {"PWD", row.password}};
        EXPECT_EQ(loopback->commands().handle(fields, std::nullopt, host, row.address).body,
                  row.reply)
            << i;
        EXPECT_EQ(credentials().hashesVerified(), hashes + row.hashes) << i;
        EXPECT_EQ(holds.all().size(), held + row.held) << i;
    }
    EXPECT_EQ(credentials().unknownVerified(), 3u);
    EXPECT_EQ(stored(ann).failedLogins, 1) << "refusals are not counted on the account";
}

TEST_F(AccountSecurityTest, OlderHashesAreMadeAnewOnLogin) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    const std::int64_t id = stored(user).id;
    const std::string current = "$argon2id$v=19$m=47104,t=1,p=1$";
    EXPECT_EQ(stored(user).passwordHash.rfind(current, 0), 0u) << "new accounts have it";

    ASSERT_TRUE(store->setPassword(id, pbkdf2Hash(password)));
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");
    EXPECT_EQ(stored(user).passwordHash.rfind("pbkdf2-sha256$20000$", 0), 0u);
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    const std::string rehashed = stored(user).passwordHash;
    EXPECT_EQ(rehashed.rfind(current, 0), 0u) << rehashed;
    EXPECT_TRUE(passwordMatches(password, rehashed));
    EXPECT_FALSE(passwordMatches("wrong", rehashed));
    EXPECT_EQ(command(user, password, "listmidi"), "!VAL 0\r\n");
    EXPECT_EQ(stored(user).passwordHash, rehashed) << "made anew once";
    EXPECT_EQ(command(user, "wrong", "viewfunds"), "!ERR 1019");

    // An Argon2id hash of a lower cost than new ones get is made anew as well.
    const std::string cheap = hashPassword(password, {8 * 1024, 1, 1});
    EXPECT_TRUE(needsRehash(cheap, HashCost{}));
    ASSERT_TRUE(store->setPassword(id, cheap));
    EXPECT_EQ(command(user, password, "viewfunds"), "!VAL 5.00");
    EXPECT_EQ(stored(user).passwordHash.rfind(current, 0), 0u);
    EXPECT_TRUE(passwordMatches(password, stored(user).passwordHash));

    // Stored texts of no known form match nothing.
    for (const std::string& stored :
         {std::string(), std::string("pbkdf2-sha256$x$salt$hash"), std::string("plain"),
          std::string("$argon2id$v=19$m=8,t=1,p=1$bad")})
        EXPECT_FALSE(passwordMatches(password, stored)) << stored;
}

TEST_F(AccountSecurityTest, MailThatCannotGoOutUndoesSignupAndReset) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    const std::string pending = mailedPassword();
    later(600);

    // A port bound but not listening refuses the SMTP connection.
    const int refusing = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(refusing, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(refusing, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::getsockname(refusing, reinterpret_cast<sockaddr*>(&address), &size), 0);
    stop();
    smtpUrl = "smtp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    start();
    expectFailedMailsUndone(user, password, pending);
    ::close(refusing);

    // Mail going out again, both go through at once.
    stop();
    smtpUrl.clear();
    start();
    EXPECT_EQ(get(signupRequestUrl(host, "new@example.org")), "!VAL signed up");
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    EXPECT_EQ(command(user, mailedPassword(), "viewfunds"), "!VAL 5.00");
}

TEST_F(AccountSecurityTest, FullDiskUndoesSignupAndReset) {
    const std::string user = "ann@example.org";
    const std::string password = account(user);
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    const std::string pending = mailedPassword();
    later(600);

    // The outbox on a file system of one page, filled up.
    const std::string outbox = store->folder() + "/outbox";
    if (::mount("tonvert-test", outbox.c_str(), "tmpfs", 0, "size=4k,mode=0755") != 0)
        GTEST_SKIP() << "mounting a small tmpfs over the outbox needs root (CI runs as root): "
                     << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{outbox};
    {
        std::ofstream fill(outbox + "/fill", std::ios::binary);
        fill << std::string(1 << 16, 'x');
    }
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(outbox.c_str(), &disk), 0);
    ASSERT_EQ(disk.f_bavail, 0u) << "the outbox is full";

    expectFailedMailsUndone(user, password, pending);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(outbox))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"fill"}) << "no mail cut short is left";

    // Room again: the reset goes through.
    std::filesystem::remove(outbox + "/fill");
    EXPECT_EQ(command(user, "", "getnewpwd"), "!VAL password sent");
    EXPECT_EQ(mails(), 1u);
}

} // namespace
} // namespace tonvert
