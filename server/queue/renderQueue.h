#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "metrics/serviceObserver.h"
#include "queue/mailer.h"
#include "store/store.h"

namespace tonvert::service {

struct RenderResult {
    bool succeeded = false;
    std::string extension; // of the audio file written, three letters
    std::string error;     // why it failed
    bool stopped = false;  // gave up because the service is stopping: the job waits again
    // The file itself cannot be rendered (`error` says why): tried again it would fail again.
    // Any other failure is the machine's (a full scratch disk, a write error) and is retried.
    bool fileRefused = false;
};

// Turns a MIDI file into an audio file at `outputPath`. A render that can give up early
// watches `stopRequested` and answers `stopped` once it has.
class Renderer {
public:
    virtual ~Renderer() = default;
    virtual RenderResult render(const RenderJob& job, const std::string& outputPath) = 0;
    void requestStop() { stopRequested_.store(true); }

protected:
    const std::atomic<bool>& stopRequested() const { return stopRequested_; }

private:
    std::atomic<bool> stopRequested_{false};
};

struct QueueOptions {
    unsigned workers = 1;
    RetryPolicy publishRetry;
    Fee uploadFee; // refunds records that an older service stored without their fee
    // How often idle workers look for jobs queued by other processes (a record queued through
    // this process wakes them at once).
    std::chrono::milliseconds poll{5000};
    // A worker takes no job while the scratch folder has less room than this: a render
    // there would only fail and cost its job a try.
    std::uint64_t scratchRoomBytes = std::uint64_t{64} << 20;
    // Rendered audio files are removed so long after they were published; 0 keeps them.
    std::int64_t keepAudioSeconds = 0;
};

// Workers that take waiting MIDI records, the accounts in turn, render them, publish the audio
// file in the owner's audio list, remove the record and mail the owner. A record being
// rendered is locked: it cannot be deleted meanwhile. An audio file that cannot be stored
// (a full disk), or a render that fails through no fault of its file (a full scratch disk, a
// write error), leaves its job waiting again, tried later; after the policy's number of
// failures the upload fee is refunded and the owner is mailed. A file the renderer refuses is
// refunded and mailed at once. Stopping the queue stops the
// renders under way, and their jobs wait again; so do jobs that a killed service left half
// done, at the next start. The MIDI file is fetched from the store into a local file first;
// while it renders, the job's lease is renewed, so that a store shared by several processes
// leaves it to this one.
class RenderQueue {
public:
    RenderQueue(Store& store, Mailer& mailer, Renderer* renderer, QueueOptions options,
                ServiceObserver& observer = noObserver());
    ~RenderQueue();
    RenderQueue(const RenderQueue&) = delete;
    RenderQueue& operator=(const RenderQueue&) = delete;

    // A record was queued.
    void notify();

private:
    void work();
    void renderJob(RenderJob& job);
    std::optional<RenderJob> take();
    // Renews the leases of the jobs being rendered, a few times per lease.
    void keepLeases();
    // Sends the mail that publications left in the store.
    void sendQueuedMail();
    // Removes the audio files past their keeping time; at most once an hour.
    void expireAudio();
    // `took` is the render's own time.
    void finish(const RenderJob& job, const RenderResult& result, const std::string& output,
                std::chrono::steady_clock::duration took);
    // The job's MIDI file could not be fetched, its render failed or its audio file could not
    // be stored (`why`): it waits again, or once the policy allows no more tries its owner is
    // refunded and mailed.
    void retryLater(const RenderJob& job, const std::string& why, const RetryPolicy& policy);
    void retryLater(const RenderJob& job, const std::string& why) {
        retryLater(job, why, options_.publishRetry);
    }
    // Whether the scratch folder has room for a render; says so in the log when that changes.
    bool scratchHasRoom();

    Store& store_;
    Mailer& mailer_;
    Renderer* renderer_;
    QueueOptions options_;
    ServiceObserver& observer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable leaseWake_; // the lease keeper's own: a record wakes a worker
    bool stopping_ = false;
    std::atomic<bool> scratchFull_ = false;
    std::atomic<std::int64_t> lastExpiry_ = 0;
    unsigned signals_ = 0;                           // records queued since a worker last looked
    std::map<std::int64_t, std::int64_t> rendering_; // record: lease
    std::vector<std::thread> workers_;
    std::thread leaseKeeper_;
};

} // namespace tonvert::service
