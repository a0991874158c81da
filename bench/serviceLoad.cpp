// serviceload SERVICE_BINARY [--users N] [--seconds S] [--storm-seconds S] [--midi FILE]
//     Starts the service binary on a free loopback port with a fresh data folder and plays N
//     users (100 by default) at once, each on its own kept-alive connection: sign up, confirm
//     with the mailed password, listmidi, upload a small MIDI file, listaudio until it is
//     rendered, getaudio, delaudio, listmidi. Then a "listmidi storm": 100 connections asking
//     for their account's list for S seconds (5 by default). Prints requests a second and
//     p50/p99 per command, and the replies that were not the expected ones. After the service
//     has stopped, every account's balance is held against the sum of its ledger.
//     The whole run ends after --seconds (120 by default) at most. Nothing runs as a test.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <regex>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "benchStats.h"
#include "netMessages.h"
#include "rawConnection.h"

namespace {

using namespace std::chrono_literals;
using tonvert::bench::millisSince;
using tonvert::bench::Stopwatch;

const char* const kScript = "/cgi-bin/wmn.pl";
const char* const kPreset = "WAV,352,22050,C,1";

struct Options {
    std::string service;
    std::string midi = TONVERT_SAMPLES "/Scale.mid";
    int users = 100;
    int stormConnections = 100;
    double seconds = 120;
    double stormSeconds = 5;
};

// Latencies per command and the replies that were not what the command should answer.
struct Tally {
    std::map<std::string, std::vector<double>> millis;
    int errors = 0;
    std::map<std::string, int> errorsByCommand;

    void merge(const Tally& other) {
        for (const auto& [command, values] : other.millis)
            millis[command].insert(millis[command].end(), values.begin(), values.end());
        errors += other.errors;
        for (const auto& [command, count] : other.errorsByCommand)
            errorsByCommand[command] += count;
    }
    std::size_t requests() const {
        std::size_t total = 0;
        for (const auto& entry : millis)
            total += entry.second.size();
        return total;
    }
};

double percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

void report(const std::string& title, const Tally& tally, double seconds) {
    std::printf("== %s: %zu requests in %.1f s, %.0f requests/s, %d errors\n", title.c_str(),
                tally.requests(), seconds, static_cast<double>(tally.requests()) / seconds,
                tally.errors);
    for (const auto& [command, values] : tally.millis)
        std::printf("   %-10s %6zu  p50 %8.2f ms  p99 %8.2f ms  errors %d\n", command.c_str(),
                    values.size(), percentile(values, 0.5), percentile(values, 0.99),
                    tally.errorsByCommand.count(command) ? tally.errorsByCommand.at(command) : 0);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The service as a child process; its output goes to DATA/service.log.
pid_t startService(const Options& options, const std::string& data, int port) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const std::string log = data + "/service.log";
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(log.c_str(), "w", stdout);
        std::freopen(log.c_str(), "a", stderr);
        // Every user signs up from the same address, and each has enough for its fees.
        const char* args[] = {
            options.service.c_str(), "--listen", listen.c_str(),       "--data", data.c_str(),
            "--signups-per-hour",    "1000000",  "--starting-balance", "100000", nullptr};
        ::execv(args[0], const_cast<char* const*>(args));
        ::_exit(127);
    }
    return child;
}

bool waitUntilServing(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(0, 100000);
    for (int i = 0; i < 200; ++i) {
        if (client.Get("/"))
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The password of the newest mail to `address` in the outbox, or "".
std::string mailedPassword(const std::string& outbox, const std::string& address) {
    std::filesystem::path newest;
    std::error_code error;
    const std::string to = "To: <" + address + ">";
    for (const auto& entry : std::filesystem::directory_iterator(outbox, error)) {
        if (!newest.empty() && entry.path().filename() <= newest.filename())
            continue;
        if (readFile(entry.path()).find(to) != std::string::npos)
            newest = entry.path();
    }
    if (newest.empty())
        return "";
    std::smatch match;
    const std::string mail = readFile(newest);
    return std::regex_search(mail, match, std::regex("\r\n    ([A-Za-z0-9]{10})\r\n"))
               ? match[1].str()
               : "";
}

// One user on its own kept-alive connection; each request is timed under its command's name.
class Session {
public:
    Session(int port, std::string user, Tally& tally)
        : client_("127.0.0.1", port)
        , user_(std::move(user))
        , tally_(tally) {
        client_.set_keep_alive(true);
        client_.set_url_encode(false);
        client_.set_read_timeout(30, 0);
    }

    void setPassword(std::string password) { password_ = std::move(password); }
    const std::string& password() const { return password_; }

    // The reply's body, or nullopt (counted as an error) when the request failed or the reply
    // does not start with `expected`.
    std::optional<std::string> get(const std::string& command, const std::string& expected,
                                   const std::string& file = "") {
        std::string path =
            std::string(kScript) + "?LNG=us&VER=1.0&UID=" + tonvert::urlEncode(user_);
        if (!password_.empty())
            path += "&PWD=" + tonvert::urlEncode(password_);
        path += "&CMD=" + command;
        if (!file.empty())
            path += "&FNM=" + tonvert::urlEncode(file);
        const auto started = Stopwatch::now();
        const auto result = client_.Get(path.c_str());
        return judge(command, started, result, expected);
    }

    std::optional<std::string> upload(const std::string& name, const std::string& bytes) {
        const httplib::MultipartFormDataItems form = {
            {"UID", user_, "", ""}, {"PWD", password_, "", ""},        {"LNG", "us", "", ""},
            {"VER", "1.0", "", ""}, {"CMD", "submitmidi", "", ""},     {"PRM", kPreset, "", ""},
            {"FNM", name, "", ""},  {"BIN", bytes, name, "audio/midi"}};
        const auto started = Stopwatch::now();
        const auto result = client_.Post(kScript, form);
        return judge("submitmidi", started, result, "!VAL");
    }

private:
    std::optional<std::string> judge(const std::string& command, Stopwatch::time_point started,
                                     const httplib::Result& result, const std::string& expected) {
        tally_.millis[command].push_back(millisSince(started));
        const bool good = result && result->status == 200 &&
                          result->body.compare(0, expected.size(), expected) == 0;
        if (good)
            return result->body;
        ++tally_.errors;
        ++tally_.errorsByCommand[command];
        return std::nullopt;
    }

    httplib::Client client_;
    std::string user_;
    std::string password_;
    Tally& tally_;
};

// The first audio file's name in a listaudio reply, or "".
std::string firstAudioName(const std::string& listing) {
    const auto lineEnd = listing.find("\r\n");
    if (lineEnd == std::string::npos)
        return "";
    const auto nameEnd = listing.find('\t', lineEnd + 2);
    return nameEnd == std::string::npos ? "" : listing.substr(lineEnd + 2, nameEnd - lineEnd - 2);
}

struct Run {
    int port = 0;
    std::string outbox;
    std::string midi;
    Stopwatch::time_point deadline;
};

// One user's whole visit; gives its password once confirmed, or "".
std::string playUser(const Run& run, const std::string& user, Tally& tally) {
    Session session(run.port, user, tally);
    if (!session.get("signup", "!VAL signed up"))
        return "";
    session.setPassword(mailedPassword(run.outbox, user));
    if (!session.get("confirm", "!VAL confirmed"))
        return "";
    if (!session.get("listmidi", "!VAL") || !session.upload("Scale.mid", run.midi))
        return session.password();
    std::string audio;
    while (audio.empty() && Stopwatch::now() < run.deadline) {
        const auto listing = session.get("listaudio", "!VAL");
        if (!listing)
            break;
        audio = firstAudioName(*listing);
        if (audio.empty())
            std::this_thread::sleep_for(100ms);
    }
    if (audio.empty()) {
        ++tally.errors;
        ++tally.errorsByCommand["listaudio"];
        return session.password();
    }
    // An audio file is bytes, never a "!" reply.
    const auto bytes = session.get("getaudio", "", audio);
    if (bytes && !bytes->empty() && bytes->front() == '!') {
        ++tally.errors;
        ++tally.errorsByCommand["getaudio"];
    }
    session.get("delaudio", "!VAL deleted", audio);
    session.get("listmidi", "!VAL");
    return session.password();
}

// Every user at once; gives the accounts that were confirmed, user and password.
std::vector<std::pair<std::string, std::string>> playUsers(const Run& run, int users,
                                                           Tally& total) {
    std::vector<Tally> tallies(static_cast<std::size_t>(users));
    std::vector<std::string> passwords(tallies.size());
    std::vector<std::thread> threads;
    const auto started = Stopwatch::now();
    for (std::size_t i = 0; i < tallies.size(); ++i)
        threads.emplace_back([&, i] {
            passwords[i] = playUser(run, "load" + std::to_string(i) + "@example.org", tallies[i]);
        });
    for (auto& thread : threads)
        thread.join();
    const double seconds = millisSince(started) / 1000;
    std::vector<std::pair<std::string, std::string>> accounts;
    for (std::size_t i = 0; i < tallies.size(); ++i) {
        total.merge(tallies[i]);
        if (!passwords[i].empty())
            accounts.emplace_back("load" + std::to_string(i) + "@example.org", passwords[i]);
    }
    report(std::to_string(users) + " users", total, seconds);
    return accounts;
}

// Connections asking for their account's MIDI list, one request after another, until the end.
void storm(const Run& run, const std::vector<std::pair<std::string, std::string>>& accounts,
           int connections, double seconds) {
    if (accounts.empty()) {
        std::printf("== listmidi storm: no confirmed account\n");
        return;
    }
    std::vector<Tally> tallies(static_cast<std::size_t>(connections));
    std::vector<std::thread> threads;
    const auto started = Stopwatch::now();
    const auto end =
        std::min(run.deadline, started + std::chrono::duration_cast<Stopwatch::duration>(
                                             std::chrono::duration<double>(seconds)));
    for (std::size_t i = 0; i < tallies.size(); ++i)
        threads.emplace_back([&, i] {
            const auto& [user, password] = accounts[i % accounts.size()];
            Session session(run.port, user, tallies[i]);
            session.setPassword(password);
            while (Stopwatch::now() < end)
                session.get("listmidi", "!VAL");
        });
    for (auto& thread : threads)
        thread.join();
    Tally total;
    for (const Tally& tally : tallies)
        total.merge(tally);
    report("listmidi storm, " + std::to_string(connections) + " connections", total,
           millisSince(started) / 1000);
}

// Every account's balance against the sum of its ledger, read from the stopped service's store.
int checkLedger(const std::string& data) {
    sqlite3* db = nullptr;
    const std::string path = data + "/tonvert.sqlite";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::printf("== ledger: cannot open %s\n", path.c_str());
        sqlite3_close(db);
        return -1;
    }
    const char* query = "SELECT a.user_id, a.balance, COALESCE(SUM(l.amount), 0) FROM accounts a "
                        "LEFT JOIN ledger l ON l.account = a.id GROUP BY a.id";
    sqlite3_stmt* statement = nullptr;
    int accounts = 0;
    int mismatches = 0;
    if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            ++accounts;
            const auto balance = sqlite3_column_int64(statement, 1);
            const auto booked = sqlite3_column_int64(statement, 2);
            if (balance != booked) {
                ++mismatches;
                std::printf("   %s: balance %lld, ledger %lld\n",
                            reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                            static_cast<long long>(balance), static_cast<long long>(booked));
            }
        }
    } else {
        std::printf("== ledger: %s\n", sqlite3_errmsg(db));
        mismatches = -1;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    std::printf("== ledger: %d accounts, %d whose balance is not the sum of their ledger\n",
                accounts, mismatches);
    return mismatches;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    options.service = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string word = argv[i];
        if (word == "--users")
            options.users = std::max(1, std::atoi(argv[i + 1]));
        else if (word == "--seconds")
            options.seconds = std::atof(argv[i + 1]);
        else if (word == "--storm-seconds")
            options.stormSeconds = std::atof(argv[i + 1]);
        else if (word == "--storm-connections")
            options.stormConnections = std::max(1, std::atoi(argv[i + 1]));
        else if (word == "--midi")
            options.midi = argv[i + 1];
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: serviceload SERVICE_BINARY [--users N] [--seconds S] "
                             "[--storm-seconds S] [--storm-connections N] [--midi FILE]\n");
        return 2;
    }
    const Options options = parseOptions(argc, argv);
    Run run;
    run.midi = readFile(options.midi);
    if (run.midi.empty()) {
        std::fprintf(stderr, "cannot read %s\n", options.midi.c_str());
        return 1;
    }
    const std::string data =
        (std::filesystem::temp_directory_path() / ("serviceload-" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(data);
    run.port = tonvert::test::freePort();
    run.outbox = data + "/outbox";
    run.deadline = Stopwatch::now() + std::chrono::duration_cast<Stopwatch::duration>(
                                          std::chrono::duration<double>(options.seconds));
    const pid_t service = startService(options, data, run.port);
    int status = 1;
    if (waitUntilServing(run.port)) {
        Tally users;
        const auto accounts = playUsers(run, options.users, users);
        storm(run, accounts, options.stormConnections, options.stormSeconds);
        status = users.errors == 0 ? 0 : 1;
    } else {
        std::fprintf(stderr, "the service did not answer; see %s/service.log\n", data.c_str());
    }
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    if (checkLedger(data) != 0)
        status = 1;
    if (status == 0)
        std::filesystem::remove_all(data);
    else
        std::printf("the data folder is kept: %s\n", data.c_str());
    return status;
}
