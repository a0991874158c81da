// logintiming [--runs N] [--guessers N]
//     What checking a password costs in the reference service, in the service's own code
//     (a store in a fresh folder, no HTTP): a user ID without an account against a wrong
//     password, against the right password verified and taken from the credentials cache,
//     and the hash of the older form. An unknown user should cost what a wrong password
//     costs. Nothing runs as a test; the figures are printed.
//     Then the owner's right password while N guessers (40 unless told) ask from one address
//     without pause, each waiting for its answer, all through as many server threads as the
//     service runs, in turn: wrong passwords confirming the owner's account, or user IDs
//     without an account. Without the limits on guesses (every guess hashed, as before them)
//     and with them; the owner asks from another address with a password not verified lately,
//     and from the guessers' address with one verified lately.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "benchStats.h"
#include "http/httpListener.h"
#include "protocol/commands.h"
#include "protocol/passwords.h"
#include "store/randomHex.h"
#include "store/sqliteStore.h"

using namespace tonvert;
using namespace tonvert::service;

namespace {

struct Row {
    const char* what;
    std::vector<double> millis;
};

void time(Row& row, const std::function<void()>& work) {
    const auto started = bench::Stopwatch::now();
    work();
    row.millis.push_back(bench::millisSince(started));
}

// Threads that take requests in turn, as the HTTP listener's do.
class ServerThreads {
public:
    explicit ServerThreads(unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this] { serve(); });
    }
    ~ServerThreads() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        waiting_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    // Runs the request on one of the threads once those before it have started; returns when
    // it has run.
    void run(const std::function<void()>& request) {
        Job job;
        job.request = &request;
        std::unique_lock lock(mutex_);
        queue_.push_back(&job);
        waiting_.notify_one();
        job.finished.wait(lock, [&job] { return job.done; });
    }

private:
    struct Job {
        const std::function<void()>* request = nullptr;
        bool done = false;
        std::condition_variable finished;
    };
    void serve() {
        for (;;) {
            std::unique_lock lock(mutex_);
            waiting_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            Job* job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            (*job->request)();
            lock.lock();
            job->done = true;
            job->finished.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable waiting_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

struct Siege {
    const char* guesses;
    bool unknownUsers;
    bool limited;
    bool ownerElsewhere; // else from the guessers' address, with the password verified lately
};

struct Login {
    Store& store;
    Mailer& mailer;
    ServiceConfig config;
    std::string user, password;
};

const char* const kGuessersAddress = "192.0.2.66";
const char* const kOwnersAddress = "2001:db8:5::7";

// The owner's right password, `runs` times a tenth of a second apart, while the guessers ask.
void besiege(const Login& login, const Siege& siege, int guessers, int runs) {
    ServiceConfig config = login.config;
    if (!siege.limited)
        config.guessLimits.perAddress =
            config.guessLimits.perAccount = {1'000'000'000, std::chrono::milliseconds(1)};
    if (siege.ownerElsewhere)
        config.credentialCacheSeconds = 0;
    Commands commands(login.store, login.mailer, config);
    const std::string owner = siege.ownerElsewhere ? kOwnersAddress : kGuessersAddress;
    commands.open(login.user, login.password, false, owner); // the count of wrong ones cleared
    const std::uint64_t hashes = commands.credentials().hashesVerified();
    std::atomic<bool> stop = false;
    std::atomic<std::uint64_t> asked = 0;
    Row latency{siege.guesses, {}};
    {
        ServerThreads threads(defaultHttpThreads());
        std::vector<std::thread> clients;
        for (int i = 0; i < guessers; ++i)
            clients.emplace_back([&, i] {
                const std::string user =
                    siege.unknownUsers ? "nobody" + std::to_string(i) + "@example.org" : login.user;
                const std::function<void()> guess = [&] {
                    commands.open(user, "wrong password", true, kGuessersAddress);
                };
                for (; !stop; ++asked)
                    threads.run(guess);
            });
        bool admitted = true;
        const std::function<void()> ownerLogin = [&] {
            admitted &= commands.open(login.user, login.password, false, owner).account.has_value();
        };
        for (int run = 0; run < runs; ++run) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            time(latency, [&] { threads.run(ownerLogin); });
        }
        stop = true;
        for (std::thread& client : clients)
            client.join();
        if (!admitted)
            std::printf("  (the owner was refused)\n");
    }
    const auto& millis = latency.millis;
    std::printf("  %-15s %-3s  %-24s %9.1f %9.1f %8llu %9llu\n", siege.guesses,
                siege.limited ? "on" : "off",
                siege.ownerElsewhere ? "elsewhere, not verified" : "guessers', verified",
                bench::median(millis), *std::max_element(millis.begin(), millis.end()),
                static_cast<unsigned long long>(commands.credentials().hashesVerified() - hashes),
                static_cast<unsigned long long>(asked.load()));
}

void besiegeAll(const Login& login, int guessers, int runs) {
    std::printf("\nthe owner's right password while %d guessers ask from one address (%u server "
                "threads), %d runs, milliseconds:\n",
                guessers, defaultHttpThreads(), runs);
    std::printf("  %-15s %-3s  %-24s %9s %9s %8s %9s\n", "guesses", "lim", "owner", "median", "max",
                "hashes", "guesses");
    for (const bool unknownUsers : {false, true})
        for (const bool ownerElsewhere : {true, false})
            for (const bool limited : {false, true})
                besiege(login,
                        {unknownUsers ? "unknown users" : "wrong confirms", unknownUsers, limited,
                         ownerElsewhere},
                        guessers, runs);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 20, guessers = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--guessers")
            guessers = std::max(0, std::atoi(argv[i + 1]));
    }
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("logintiming-" + randomHex(6))).string();
    {
        SqliteStore store(folder);
        Mailer mailer(store.folder() + "/outbox", "noreply@bench.localhost");
        ServiceConfig config;
        config.loginDelays.freeFailures = 1'000'000; // the hash alone, never a held answer
        const std::string user = "bench@example.org", password = generatePassword();
        const auto id = store.addAccount({user, hashPassword(password), 500});
        store.confirmAccount({id.value_or(0), store.accountById(id.value_or(0))->passwordHash});
        const std::string old = pbkdf2Hash(password);

        Row unknown{"unknown user", {}}, wrong{"wrong password", {}},
            right{"right password, verified", {}}, cached{"right password, cached", {}},
            legacy{"older form (PBKDF2, 20000 rounds)", {}};
        // The limits on guesses out of the way: every wrong password here is hashed.
        config.guessLimits.perAddress =
            config.guessLimits.perAccount = {1'000'000'000, std::chrono::milliseconds(1)};
        Commands commands(store, mailer, config);
        ServiceConfig uncachedConfig = config;
        uncachedConfig.credentialCacheSeconds = 0;
        Commands uncached(store, mailer, uncachedConfig);
        const std::string at = "192.0.2.1";
        commands.open(user, password, false, at); // into the cache
        for (int run = 0; run < runs; ++run) {
            time(unknown, [&] { commands.open("nobody@example.org", password, false, at); });
            time(wrong, [&] { commands.open(user, "wrong password", false, at); });
            time(right, [&] { uncached.open(user, password, false, at); });
            time(cached, [&] { commands.open(user, password, false, at); });
            time(legacy, [&] { passwordMatches(password, old); });
        }
        std::printf("%d runs each, median milliseconds (Argon2id m=%u KiB, t=%u, p=%u):\n", runs,
                    config.hashCost.memoryKib, config.hashCost.passes, config.hashCost.lanes);
        for (const Row* row : {&unknown, &wrong, &right, &cached, &legacy})
            std::printf("  %-36s %9.3f\n", row->what, bench::median(row->millis));
        std::printf("  unknown user / wrong password: %.2f\n",
                    bench::median(unknown.millis) / bench::median(wrong.millis));
        besiegeAll({store, mailer, ServiceConfig{}, user, password}, guessers, runs);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
