// logintiming [--runs N]
//     What checking a password costs in the reference service, in the service's own code
//     (a store in a fresh folder, no HTTP): a user ID without an account against a wrong
//     password, against the right password verified and taken from the credentials cache,
//     and the hash of the older form. An unknown user should cost what a wrong password
//     costs. Nothing runs as a test; the figures are printed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "benchStats.h"
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

} // namespace

int main(int argc, char** argv) {
    int runs = 20;
    if (argc == 3 && std::string(argv[1]) == "--runs")
        runs = std::max(1, std::atoi(argv[2]));
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("logintiming-" + randomHex(6))).string();
    {
        SqliteStore store(folder);
        Mailer mailer(store.folder() + "/outbox", "noreply@bench.localhost");
        ServiceConfig config;
        config.loginDelays.freeFailures = 1'000'000; // the hash alone, never a held answer
        Commands commands(store, mailer, config);
        ServiceConfig uncachedConfig = config;
        uncachedConfig.credentialCacheSeconds = 0;
        Commands uncached(store, mailer, uncachedConfig);

        const std::string user = "bench@example.org", password = generatePassword();
        const auto id = store.addAccount({user, hashPassword(password), 500});
        store.confirmAccount({id.value_or(0), store.accountById(id.value_or(0))->passwordHash});
        const std::string old = pbkdf2Hash(password);

        Row unknown{"unknown user", {}}, wrong{"wrong password", {}},
            right{"right password, verified", {}}, cached{"right password, cached", {}},
            legacy{"older form (PBKDF2, 20000 rounds)", {}};
        commands.open(user, password, false); // into the cache
        for (int run = 0; run < runs; ++run) {
            time(unknown, [&] { commands.open("nobody@example.org", password, false); });
            time(wrong, [&] { commands.open(user, "wrong password", false); });
            time(right, [&] { uncached.open(user, password, false); });
            time(cached, [&] { commands.open(user, password, false); });
            time(legacy, [&] { passwordMatches(password, old); });
        }
        std::printf("%d runs each, median milliseconds (Argon2id m=%u KiB, t=%u, p=%u):\n", runs,
                    config.hashCost.memoryKib, config.hashCost.passes, config.hashCost.lanes);
        for (const Row* row : {&unknown, &wrong, &right, &cached, &legacy})
            std::printf("  %-36s %9.3f\n", row->what, bench::median(row->millis));
        std::printf("  unknown user / wrong password: %.2f\n",
                    bench::median(unknown.millis) / bench::median(wrong.millis));
    }
    std::filesystem::remove_all(folder);
    return 0;
}
