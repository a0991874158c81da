#include "queue/renderWorker.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

#include "log/log.h"
#include "options/commandLine.h"
#include "process/stop.h"
#include "queue/mailer.h"
#include "store/store.h"
#include "store/storeWait.h"

namespace tonvert::service {

int readWorkerOptions(int argc, char** argv, WorkerOptions& o) {
    const auto number = [](const std::string& v) { return wholeNumber(v, 0); };
    const std::vector<Option> table{
        {"--store", "URL", "the service's postgresql:// database (needed)",
         [&](const std::string& v) { o.store = v; }},
        {"--store-password-file", "FILE", "the database's password, in a file of the user's alone",
         [&](const std::string& v) { o.storePasswordFile = v; }},
        {"--data", "DIR", "the working folder: scratch files, mail files (tonvert-work)",
         [&](const std::string& v) { o.data = v; }},
        {"--workers", "N", "renders at once (1)",
         [&](const std::string& v) {
             o.workers = static_cast<unsigned>(std::max(1LL, number(v)));
         }},
        {"--lease-seconds", "N", "how long a job is a silent worker's (60)",
         [&](const std::string& v) { o.leaseSeconds = std::max(1LL, number(v)); }},
        {"--soundfont", "FILE", "the soundfont renders play with (.sf2 or .sf3)",
         [&](const std::string& v) { o.soundfont = v; }},
        {"--smtp", "URL", "sends mail over SMTP (into DIR/outbox if not)",
         [&](const std::string& v) { o.smtp = v; }},
        {"--sender", "ADDRESS", "the mails' sender (noreply@tonvert.localhost)",
         [&](const std::string& v) { o.sender = v; }},
        {"--keep-audio-days", "N", "removes rendered audio so old, unmailed; 0 keeps it (0)",
         [&](const std::string& v) { o.keepAudioDays = number(v); }},
        {"--metrics-listen", "HOST:PORT", "serves Prometheus metrics on /metrics there (none)",
         [&](const std::string& v) { o.metricsListen = hostAndPort(v); }},
    };
    const std::string usage = usageText(
        "tonvert-render-worker --store postgresql://USER@HOST/DB [options]\n  Renders the "
        "jobs of a service's shared store.",
        table);
    const CommandLine read = readCommandLine(argc, argv, table);
    if (read.help) {
        std::cout << usage;
        return 0;
    }
    if (read.ok && isPostgresUrl(o.store))
        return -1;
    std::cerr << "tonvert-render-worker: "
              << (read.ok ? "--store needs a postgresql:// URL" : read.error) << "\n"
              << usage;
    return 2;
}

int runRenderWorker(const WorkerOptions& options, Renderer& renderer, ServiceObserver& observer) {
    ::umask(077);
    std::signal(SIGXFSZ, SIG_IGN);
    Stop stop;
    const StopSignals signals(stop);
    try {
        openingStore(options.store, options.storePasswordFile);
        StoreOptions storeOptions;
        storeOptions.leaseSeconds = options.leaseSeconds;
        const auto store = openStoreWhenUp(
            [&] { return openStore(options.store, options.data, storeOptions); }, {}, stop);
        if (!store)
            return 0;
        Mailer mailer(store->folder() + "/outbox", options.sender, options.smtp, {}, observer);
        RenderQueue queue(*store, mailer, &renderer,
                          {options.workers, options.publishRetry,
                           Fee{options.prices.uploadBase, options.prices.uploadPerMb},
                           std::chrono::milliseconds(500), options.scratchRoomBytes,
                           options.keepAudioDays * 24 * 60 * 60},
                          observer);
        logInfo() << "tonvert-render-worker: " << options.workers << " workers";
        stop.wait();
        logInfo() << "tonvert-render-worker: stopping";
    } catch (const std::exception& failure) {
        logError() << failure.what();
        return 1;
    }
    return 0;
}

} // namespace tonvert::service
