#pragma once

#include <cstdint>
#include <string>

#include "metrics/serviceObserver.h"
#include "queue/renderQueue.h"

namespace tonvert::service {

// What a render worker program is told.
struct WorkerOptions {
    std::string store;                 // PostgreSQL URL
    std::string storePasswordFile;     // the database's password, when the URL has none
    std::string data = "tonvert-work"; // local folder: scratch files, and mail when not SMTP
    unsigned workers = 1;
    std::int64_t leaseSeconds = 60;
    std::string smtp;
    std::string sender = "noreply@tonvert.localhost";
    std::string soundfont;
    RetryPolicy publishRetry;
    std::uint64_t scratchRoomBytes = std::uint64_t{64} << 20; // takes no job with less free
    std::int64_t keepAudioDays = 0;                           // 0: rendered audio is kept
    Prices prices;             // the upload fee, for refunds of records an older service stored
    std::string metricsListen; // HOST:PORT of the metrics; none when empty
};

// Reads the worker's command line: -1 to go on; otherwise the program's exit status, the usage
// written (0 after --help; 2 for a wrong word, said on standard error).
int readWorkerOptions(int argc, char** argv, WorkerOptions& options);

// Renders jobs of the shared store with `renderer` until SIGINT or SIGTERM; jobs under way
// then wait again. The process's exit status.
int runRenderWorker(const WorkerOptions& options, Renderer& renderer,
                    ServiceObserver& observer = noObserver());

} // namespace tonvert::service
