// tonvert-service [--listen HOST:PORT] [--data DIR] [--store URL] [--no-render] [options]
//     The reference rendering service. Every option has a default, so it runs with none.
//     With a PostgreSQL store, several services (and tonvert-render-worker programs) share
//     it; one with --no-render only answers requests.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "http/accessLog.h"
#include "http/httpFront.h"
#include "http/httpListener.h"
#include "log/log.h"
#include "metrics/serviceMetrics.h"
#include "options/commandLine.h"
#include "process/stop.h"
#include "protocol/commands.h"
#include "queue/fluidRenderer.h"
#include "queue/mailer.h"
#include "queue/renderQueue.h"
#include "store/backup.h"
#include "store/store.h"
#include "store/storeWait.h"

using namespace tonvert::service;

namespace {

struct Options {
    std::string listen = "127.0.0.1:8080";
    bool publicHostGiven = false;
    std::string data = "tonvert-data";
    std::string store; // a PostgreSQL URL; the SQLite database in the data folder when empty
    std::string storePasswordFile;
    bool renders = true; // runs render workers of its own
    std::int64_t leaseSeconds = 60;
    std::string smtp;
    std::string sender = "noreply@tonvert.localhost";
    std::int64_t outboxDays = 7;
    std::int64_t keepAudioDays = 0;
    ServiceConfig config;
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    tonvert::render::RenderOptions render;
    HttpOptions http;
    std::string backup;        // a folder to copy the store into, instead of serving
    std::string restore;       // a backup to put into the data folder, instead of serving
    std::string metricsListen; // no metrics unless given
};

Prices pricesOf(const std::string& text) {
    Prices prices;
    long long values[4];
    if (std::sscanf(text.c_str(), "%lld,%lld,%lld,%lld", &values[0], &values[1], &values[2],
                    &values[3]) != 4)
        throw std::invalid_argument(text);
    prices = {values[0], values[1], values[2], values[3]};
    return prices;
}

std::vector<Option> optionsOf(Options& o) {
    using ms = std::chrono::milliseconds;
    auto& config = o.config;
    return {
        {"--listen", "HOST:PORT", "where to answer (127.0.0.1:8080)",
         [&](const std::string& v) { o.listen = v; }},
        {"--public-host", "HOST:PORT", "the name and port clients reach the service by",
         [&](const std::string& v) {
             config.publicHost = v;
             o.publicHostGiven = true;
         }},
        {"--data", "DIR", "the data folder (tonvert-data)",
         [&](const std::string& v) { o.data = v; }},
        {"--store", "URL", "a postgresql:// database shared with others (SQLite in DIR if not)",
         [&](const std::string& v) { o.store = v; }},
        {"--store-password-file", "FILE", "the database's password, in a file of the user's alone",
         [&](const std::string& v) { o.storePasswordFile = v; }},
        {"--no-render", nullptr, "renders nothing: workers elsewhere do (PostgreSQL only)",
         [&](const std::string&) { o.renders = false; }},
        {"--lease-seconds", "N", "how long a job is a silent worker's (60)",
         [&](const std::string& v) { o.leaseSeconds = std::max(1LL, wholeNumber(v)); }},
        {"--workers", "N", "renders at once (one per core)",
         [&](const std::string& v) { o.workers = static_cast<unsigned>(wholeNumber(v)); }},
        {"--soundfont", "FILE", "the soundfont renders play with (.sf2 or .sf3)",
         [&](const std::string& v) { o.render.soundfont = v; }},
        {"--closed", nullptr, "takes no new users",
         [&](const std::string&) { config.closedToNewUsers = true; }},
        {"--starting-balance", "CENTS", "a new account's balance (500)",
         [&](const std::string& v) { config.startingBalance = wholeNumber(v); }},
        {"--prices", "UP,UP_PER_MB,DOWN,DOWN_PER_MB", "fees in cents (5,10,2,3)",
         [&](const std::string& v) { config.prices = pricesOf(v); }},
        {"--max-midi-files", "N", "MIDI files an account may queue (20)",
         [&](const std::string& v) {
             config.maxMidiRecords = static_cast<std::size_t>(wholeNumber(v));
         }},
        {"--max-queued-minutes", "N", "play time an account may queue (60)",
         [&](const std::string& v) { config.maxQueuedRenderSeconds = wholeNumber(v) * 60; }},
        {"--max-upload-bytes", "N", "the largest upload (4194304)",
         [&](const std::string& v) {
             config.maxUploadBytes = static_cast<std::size_t>(wholeNumber(v));
         }},
        {"--smtp", "URL", "sends mail over SMTP (into DIR/outbox if not)",
         [&](const std::string& v) { o.smtp = v; }},
        {"--sender", "ADDRESS", "the mails' sender (noreply@tonvert.localhost)",
         [&](const std::string& v) { o.sender = v; }},
        {"--outbox-days", "N", "days mail files are kept; 0 keeps them (7)",
         [&](const std::string& v) { o.outboxDays = wholeNumber(v); }},
        {"--keep-audio-days", "N", "removes rendered audio so old, unmailed; 0 keeps it (0)",
         [&](const std::string& v) { o.keepAudioDays = wholeNumber(v); }},
        {"--signups-per-hour", "N", "sign-ups from one network address (10)",
         [&](const std::string& v) { config.signupsPerAddress = wholeNumber(v); }},
        {"--login-delay-ms", "MS", "the first held-back wrong password (1000)",
         [&](const std::string& v) { config.loginDelays.first = ms(wholeNumber(v)); }},
        {"--http-threads", "N", "requests served at once",
         [&](const std::string& v) { o.http.threads = static_cast<unsigned>(wholeNumber(v)); }},
        {"--header-deadline-ms", "MS", "for a request's line and headers (10000)",
         [&](const std::string& v) { o.http.headerDeadline = ms(wholeNumber(v)); }},
        {"--body-deadline-ms", "MS", "for a request's body (120000)",
         [&](const std::string& v) { o.http.bodyDeadline = ms(wholeNumber(v)); }},
        {"--keep-alive-ms", "MS", "a kept-alive connection's wait for its next request (5000)",
         [&](const std::string& v) { o.http.keepAlive = ms(wholeNumber(v)); }},
        {"--backup", "DIR", "copies the SQLite store into DIR, served on or not, and exits",
         [&](const std::string& v) { o.backup = v; }},
        {"--restore", "DIR", "puts the backup in DIR into an empty data folder and exits",
         [&](const std::string& v) { o.restore = v; }},
        {"--metrics-listen", "HOST:PORT", "serves Prometheus metrics on /metrics there (none)",
         [&](const std::string& v) { o.metricsListen = hostAndPort(v); }},
    };
}

HttpOptions waitingOptions(const HttpOptions& http) {
    HttpOptions waiting = http;
    waiting.threads = 1;
    return waiting;
}

// A listener that runs on a thread of its own once started, until this ends.
class RunningListener {
public:
    explicit RunningListener(HttpListener& listener)
        : listener_(listener) {}
    ~RunningListener() { end(); }
    RunningListener(const RunningListener&) = delete;
    RunningListener& operator=(const RunningListener&) = delete;

    void start() {
        thread_ = std::thread([this] { listener_.run(); });
    }
    void end() {
        listener_.stop();
        if (thread_.joinable())
            thread_.join();
    }

private:
    HttpListener& listener_;
    std::thread thread_;
};

// Serves on the address `waiting` holds once the store opens, until the stop. A request that
// comes meanwhile waits in the socket's backlog, unless the store does not answer at once:
// then `waiting` answers that the service waits for it.
int serve(Options& options, HttpListener& waiting, Stop& stop, ServiceMetrics* metrics,
          MetricsEndpoint* endpoint) {
    RunningListener waitingRuns(waiting);
    openingStore(options.store, options.storePasswordFile);
    StoreOptions storeOptions;
    storeOptions.leaseSeconds = options.leaseSeconds;
    const auto store =
        openStoreWhenUp([&] { return openStore(options.store, options.data, storeOptions); }, {},
                        stop, [&] { waitingRuns.start(); });
    if (!store)
        return 0;
    // Scrapes read the queue from the store until it goes.
    const QueueWatch watch(endpoint, [&store] { return store->queueState(); });
    ServiceObserver& observer = metrics != nullptr ? *metrics : noObserver();
    Mailer mailer(store->folder() + "/outbox", options.sender, options.smtp,
                  {options.outboxDays, {}}, observer);
    FluidRenderer renderer(options.render);
    const Prices& prices = options.config.prices;
    RenderQueue queue(*store, mailer, options.renders ? &renderer : nullptr,
                      {options.workers, options.config.publishRetry,
                       Fee{prices.uploadBase, prices.uploadPerMb},
                       // Records queued by other processes are found by looking.
                       std::chrono::seconds(isPostgresUrl(options.store) ? 1 : 5),
                       options.config.scratchRoomBytes, options.keepAudioDays * 24 * 60 * 60},
                      observer);
    Commands commands(
        *store, mailer, options.config, [&queue] { queue.notify(); }, observer);
    // Bodies too large to wait in memory wait on the service's own disk: the system's
    // temporary folder may be memory itself.
    options.http.scratchFolder = store->folder() + "/scratch";
    HttpListener server(options.http);
    installRoutes(server.routes(), commands, options.config);
    if (!server.adopt(::dup(waiting.listeningSocket())))
        throw std::runtime_error("cannot take over the listening socket: " +
                                 std::string(std::strerror(errno)));
    waitingRuns.end();
    logInfo() << "tonvert-service on http://" << options.listen << "/ with data in "
              << options.data;
    std::thread stopper([&] {
        stop.wait();
        server.stop();
    });
    server.run();
    stop.request();
    stopper.join();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Whatever the service writes (the database, mail, the users' files) is its own only.
    ::umask(077);
    // Every connection waiting for its request holds a descriptor, and no thread: as many as
    // the system allows this process.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    Options options;
    const std::vector<Option> table = optionsOf(options);
    const std::string usage =
        usageText("tonvert-service [options]\n  The reference rendering service; every option has "
                  "a default.",
                  table);
    const CommandLine read = readCommandLine(argc, argv, table);
    if (read.help) {
        std::cout << usage;
        return 0;
    }
    const auto colon = options.listen.rfind(':');
    if (!read.ok || colon == std::string::npos) {
        std::cerr << "tonvert-service: " << (read.ok ? "--listen needs HOST:PORT" : read.error)
                  << "\n"
                  << usage;
        return 2;
    }
    if (!options.backup.empty() || !options.restore.empty())
        return runBackupCommand(options.backup, options.restore, options.data, options.store,
                                std::cout, std::cerr);
    const std::string host = options.listen.substr(0, colon);
    const int port = std::atoi(options.listen.c_str() + colon + 1);
    // Unless told, the service is reached as the client's default host does it, on this port.
    if (!options.publicHostGiven)
        options.config.publicHost = "tonvert.localhost:" + std::to_string(port);

    if (!options.store.empty() && !isPostgresUrl(options.store)) {
        std::cerr << "tonvert-service: --store takes a postgresql:// or postgres:// URL, not \""
                  << options.store << "\"\n";
        return 2;
    }
    if (!options.renders && !isPostgresUrl(options.store)) {
        std::cerr << "tonvert-service: --no-render needs a PostgreSQL --store\n";
        return 2;
    }
    // Past a limit on file sizes a write fails, and the request answers an error; the signal
    // would end the service instead.
    std::signal(SIGXFSZ, SIG_IGN);
    Stop stop;
    const StopSignals signals(stop);
    // Nothing is counted unless the metrics are served.
    std::unique_ptr<ServiceMetrics> metrics;
    if (!options.metricsListen.empty())
        metrics = std::make_unique<ServiceMetrics>();
    options.http.served = [counted = metrics.get()](const ServedRequest& served) {
        writeLog(LogLevel::info, accessEvent(served));
        if (counted != nullptr)
            counted->requestServed(served);
    };
    try {
        std::unique_ptr<MetricsEndpoint> endpoint;
        if (metrics)
            endpoint = std::make_unique<MetricsEndpoint>(*metrics, options.metricsListen);
        HttpListener waiting(waitingOptions(options.http));
        installWaitingRoutes(waiting.routes());
        if (waiting.bind(host, port) < 0) {
            logError() << "cannot listen on " << options.listen;
            return 1;
        }
        return serve(options, waiting, stop, metrics.get(), endpoint.get());
    } catch (const std::exception& failure) {
        logError() << failure.what();
        return 1;
    }
}
