#include "queue/renderWorker.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <sys/stat.h>

#include "queue/mailer.h"
#include "store/store.h"

namespace tonvert::service {

bool parseWorkerOptions(int argc, char** argv, WorkerOptions& options) {
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string word = argv[i];
            const bool hasValue = i + 1 < argc;
            if (word == "--store" && hasValue)
                options.store = argv[++i];
            else if (word == "--store-password-file" && hasValue)
                options.storePasswordFile = argv[++i];
            else if (word == "--data" && hasValue)
                options.data = argv[++i];
            else if (word == "--workers" && hasValue)
                options.workers = static_cast<unsigned>(std::stoul(argv[++i]));
            else if (word == "--lease-seconds" && hasValue)
                options.leaseSeconds = std::max(1LL, std::stoll(argv[++i]));
            else if (word == "--smtp" && hasValue)
                options.smtp = argv[++i];
            else if (word == "--sender" && hasValue)
                options.sender = argv[++i];
            else if (word == "--soundfont" && hasValue)
                options.soundfont = argv[++i];
            else
                return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    return isPostgresUrl(options.store) && options.workers > 0;
}

int runRenderWorker(const WorkerOptions& options, Renderer& renderer) {
    ::umask(077);
    // The signals are taken by sigwait below, never by a worker thread: block them before
    // any thread starts, and every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        openingStore(options.store, options.storePasswordFile);
        StoreOptions storeOptions;
        storeOptions.leaseSeconds = options.leaseSeconds;
        const auto store = openStore(options.store, options.data, storeOptions);
        Mailer mailer(store->folder() + "/outbox", options.sender, options.smtp);
        RenderQueue queue(*store, mailer, &renderer,
                          {options.workers, options.publishRetry,
                           Fee{options.prices.uploadBase, options.prices.uploadPerMb},
                           std::chrono::milliseconds(500), options.scratchRoomBytes});
        std::clog << "tonvert-render-worker: " << options.workers << " workers" << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::clog << "tonvert-render-worker: stopping" << std::endl;
    } catch (const std::exception& failure) {
        std::cerr << "tonvert-render-worker: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace tonvert::service
