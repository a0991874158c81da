// tonvert-service [--listen HOST:PORT] [--data DIR] [--store URL] [--no-render] [options]
//     The reference rendering service. Every option has a default, so it runs with none.
//     With a PostgreSQL store, several services (and tonvert-render-worker programs) share
//     it; one with --no-render only answers requests.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

#include "http/httpFront.h"
#include "http/httpListener.h"
#include "protocol/commands.h"
#include "queue/fluidRenderer.h"
#include "queue/mailer.h"
#include "queue/renderQueue.h"
#include "store/store.h"

using namespace tonvert::service;

namespace {

HttpListener* running = nullptr;

void stop(int) {
    if (running != nullptr)
        running->stop();
}

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
    ServiceConfig config;
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    tonvert::render::RenderOptions render;
    HttpOptions http;
};

void usage() {
    std::cerr
        << "usage: tonvert-service [--listen HOST:PORT] [--public-host HOST:PORT] [--data DIR]\n"
           "         [--store postgresql://USER@HOST/DB [--store-password-file FILE]]\n"
           "         [--closed]\n"
           "         [--starting-balance CENTS] [--prices UPLOAD,PER_MB,DOWNLOAD,PER_MB (cents)]\n"
           "         [--max-midi-files N] [--max-queued-minutes N] [--max-upload-bytes N]\n"
           "         [--smtp URL] [--sender ADDRESS] [--outbox-days N]\n"
           "         [--workers N] [--soundfont FILE.sf2|FILE.sf3] [--signups-per-hour N]\n"
           "         [--login-delay-ms MS] [--http-threads N] [--header-deadline-ms MS]\n"
           "         [--body-deadline-ms MS] [--keep-alive-ms MS]\n";
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--listen" && hasValue)
            options.listen = argv[++i];
        else if (word == "--public-host" && hasValue) {
            options.config.publicHost = argv[++i];
            options.publicHostGiven = true;
        } else if (word == "--data" && hasValue)
            options.data = argv[++i];
        else if (word == "--store" && hasValue)
            options.store = argv[++i];
        else if (word == "--store-password-file" && hasValue)
            options.storePasswordFile = argv[++i];
        else if (word == "--no-render")
            options.renders = false;
        else if (word == "--lease-seconds" && hasValue)
            options.leaseSeconds = std::max(1LL, std::stoll(argv[++i]));
        else if (word == "--closed")
            options.config.closedToNewUsers = true;
        else if (word == "--starting-balance" && hasValue)
            options.config.startingBalance = std::stoll(argv[++i]);
        else if (word == "--max-midi-files" && hasValue)
            options.config.maxMidiRecords = std::stoul(argv[++i]);
        else if (word == "--max-queued-minutes" && hasValue)
            options.config.maxQueuedRenderSeconds = std::stoll(argv[++i]) * 60;
        else if (word == "--outbox-days" && hasValue)
            options.outboxDays = std::stoll(argv[++i]);
        else if (word == "--max-upload-bytes" && hasValue)
            options.config.maxUploadBytes = std::stoul(argv[++i]);
        else if (word == "--smtp" && hasValue)
            options.smtp = argv[++i];
        else if (word == "--sender" && hasValue)
            options.sender = argv[++i];
        else if (word == "--workers" && hasValue)
            options.workers = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (word == "--signups-per-hour" && hasValue)
            options.config.signupsPerAddress = std::stoll(argv[++i]);
        else if (word == "--login-delay-ms" && hasValue)
            options.config.loginDelays.first = std::chrono::milliseconds(std::stoll(argv[++i]));
        else if (word == "--http-threads" && hasValue)
            options.http.threads = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (word == "--header-deadline-ms" && hasValue)
            options.http.headerDeadline = std::chrono::milliseconds(std::stoll(argv[++i]));
        else if (word == "--body-deadline-ms" && hasValue)
            options.http.bodyDeadline = std::chrono::milliseconds(std::stoll(argv[++i]));
        else if (word == "--keep-alive-ms" && hasValue)
            options.http.keepAlive = std::chrono::milliseconds(std::stoll(argv[++i]));
        else if (word == "--soundfont" && hasValue)
            options.render.soundfont = argv[++i];
        else if (word == "--prices" && hasValue) {
            auto& p = options.config.prices;
            if (std::sscanf(argv[++i], "%lld,%lld,%lld,%lld",
                            reinterpret_cast<long long*>(&p.uploadBase),
                            reinterpret_cast<long long*>(&p.uploadPerMb),
                            reinterpret_cast<long long*>(&p.downloadBase),
                            reinterpret_cast<long long*>(&p.downloadPerMb)) != 4)
                return false;
        } else
            return false;
    }
    return true;
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
    try {
        if (!parse(argc, argv, options)) {
            usage();
            return 2;
        }
    } catch (const std::exception&) {
        usage();
        return 2;
    }
    const auto colon = options.listen.rfind(':');
    if (colon == std::string::npos) {
        usage();
        return 2;
    }
    const std::string host = options.listen.substr(0, colon);
    const int port = std::atoi(options.listen.c_str() + colon + 1);
    // Unless told, the service is reached as the client's default host does it, on this port.
    if (!options.publicHostGiven)
        options.config.publicHost = "tonvert.localhost:" + std::to_string(port);

    try {
        if (!options.store.empty() && !isPostgresUrl(options.store)) {
            std::cerr << "tonvert-service: --store takes a postgresql:// or postgres:// URL, not \""
                      << options.store << "\"\n";
            return 2;
        }
        if (!options.renders && !isPostgresUrl(options.store)) {
            std::cerr << "tonvert-service: --no-render needs a PostgreSQL --store\n";
            return 2;
        }
        openingStore(options.store, options.storePasswordFile);
        StoreOptions storeOptions;
        storeOptions.leaseSeconds = options.leaseSeconds;
        const auto store = openStore(options.store, options.data, storeOptions);
        Mailer mailer(store->folder() + "/outbox", options.sender, options.smtp,
                      {options.outboxDays, {}});
        FluidRenderer renderer(options.render);
        const Prices& prices = options.config.prices;
        RenderQueue queue(*store, mailer, options.renders ? &renderer : nullptr,
                          {options.workers, options.config.publishRetry,
                           Fee{prices.uploadBase, prices.uploadPerMb},
                           // Records queued by other processes are found by looking.
                           std::chrono::seconds(isPostgresUrl(options.store) ? 1 : 5),
                           options.config.scratchRoomBytes});
        Commands commands(*store, mailer, options.config, [&queue] { queue.notify(); });
        // Bodies too large to wait in memory wait on the service's own disk: the system's
        // temporary folder may be memory itself.
        options.http.scratchFolder = store->folder() + "/scratch";
        HttpListener server(options.http);
        installRoutes(server.routes(), commands, options.config);
        if (server.bind(host, port) < 0) {
            std::cerr << "tonvert-service: cannot listen on " << options.listen << "\n";
            return 1;
        }
        running = &server;
        std::signal(SIGINT, stop);
        std::signal(SIGTERM, stop);
        // Past a limit on file sizes a write fails, and the request answers an error; the
        // signal would end the service instead.
        std::signal(SIGXFSZ, SIG_IGN);
        std::clog << "tonvert-service on http://" << options.listen << "/ with data in "
                  << options.data << std::endl;
        server.run();
    } catch (const std::exception& failure) {
        std::cerr << "tonvert-service: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
