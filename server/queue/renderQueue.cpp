#include "queue/renderQueue.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "log/log.h"
#include "store/money.h"

namespace tonvert::service {

RenderQueue::RenderQueue(Store& store, Mailer& mailer, Renderer* renderer, QueueOptions options,
                         ServiceObserver& observer)
    : store_(store)
    , mailer_(mailer)
    , renderer_(renderer)
    , options_(options)
    , observer_(observer) {
    store_.requeueUnfinished();
    if (renderer_ == nullptr)
        return;
    for (unsigned i = 0; i < std::max(1u, options_.workers); ++i)
        workers_.emplace_back([this] { work(); });
    leaseKeeper_ = std::thread([this] { keepLeases(); });
}

RenderQueue::~RenderQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (renderer_ != nullptr)
        renderer_->requestStop();
    wake_.notify_all();
    leaseWake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    if (leaseKeeper_.joinable())
        leaseKeeper_.join();
}

void RenderQueue::notify() {
    {
        std::lock_guard lock(mutex_);
        ++signals_;
    }
    wake_.notify_one();
}

void RenderQueue::work() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (stopping_)
                return;
        }
        std::optional<RenderJob> job;
        if (scratchHasRoom())
            job = take();
        if (!job) {
            if (store_.queuesMail())
                sendQueuedMail();
            expireAudio();
            std::unique_lock lock(mutex_);
            // Woken by a new record; the time-out finds records queued elsewhere.
            wake_.wait_for(lock, options_.poll, [this] { return stopping_ || signals_ > 0; });
            if (signals_ > 0)
                --signals_;
            continue;
        }
        renderJob(*job);
    }
}

bool RenderQueue::scratchHasRoom() {
    const std::string folder = store_.folder() + "/scratch";
    const std::uint64_t room = store_.scratchRoom();
    const bool full = room < options_.scratchRoomBytes;
    if (scratchFull_.exchange(full) != full) {
        if (full)
            logWarning() << "the scratch folder " << folder << " has " << (room >> 20)
                         << " MiB free, less than the " << (options_.scratchRoomBytes >> 20)
                         << " MiB a render may need: taking no job until it has room";
        else
            logInfo() << "the scratch folder " << folder << " has room again";
    }
    return !full;
}

void RenderQueue::renderJob(RenderJob& job) {
    {
        std::lock_guard lock(mutex_);
        rendering_[job.record] = job.lease;
    }
    if (job.attempts >= options_.publishRetry.attempts) {
        // Renders of it died with their process so often: it is given up, not tried again.
        retryLater(job, "rendering it stopped the service each time it was tried");
        std::lock_guard lock(mutex_);
        rendering_.erase(job.record);
        return;
    }
    job.midiPath = store_.scratchPath();
    bool fetched = false;
    try {
        fetched = store_.fetchMidi(job.record, job.midiPath);
        if (!fetched)
            logWarning() << "fetching " << job.name
                         << " failed: its MIDI file could not be read whole";
    } catch (const std::exception& failure) {
        observer_.storeError();
        logWarning() << "fetching " << job.name << " failed: " << failure.what();
    }
    const std::string output = store_.scratchPath();
    if (!fetched) {
        // Waits a while, as an audio file that could not be stored does, rather than being
        // taken again at once; or went meanwhile.
        retryLater(job, "its MIDI file could not be read from the store");
    } else {
        RenderResult result;
        const auto started = std::chrono::steady_clock::now();
        try {
            result = renderer_->render(job, output);
        } catch (const std::exception& failure) {
            result = {false, "", failure.what()};
        }
        // The lease is kept until the job is published or given back.
        finish(job, result, output, std::chrono::steady_clock::now() - started);
    }
    {
        std::lock_guard lock(mutex_);
        rendering_.erase(job.record);
    }
    // What the render left in the scratch area goes, whatever became of the job; a published
    // audio file was moved or copied out before.
    std::error_code ignored;
    std::filesystem::remove(job.midiPath, ignored);
    std::filesystem::remove(output, ignored);
}

void RenderQueue::keepLeases() {
    const auto interval =
        std::chrono::milliseconds(std::max<std::int64_t>(store_.leaseSeconds() * 1000 / 3, 200));
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        leaseWake_.wait_for(lock, interval, [this] { return stopping_; });
        if (stopping_)
            return;
        const auto jobs = rendering_;
        lock.unlock();
        for (const auto& [record, lease] : jobs)
            try {
                if (!store_.renewLease(record, lease))
                    logWarning() << "record " << record << " is no longer this worker's";
            } catch (const std::exception& failure) {
                observer_.storeError();
                logWarning() << "renewing the lease of record " << record
                             << " failed: " << failure.what();
            }
        lock.lock();
    }
}

void RenderQueue::expireAudio() {
    const std::int64_t now = store_.now();
    std::int64_t last = lastExpiry_.load();
    if (options_.keepAudioSeconds <= 0 || now < last + 3600 ||
        !lastExpiry_.compare_exchange_strong(last, now))
        return;
    try {
        if (const auto expired = store_.expireAudio(now - options_.keepAudioSeconds); expired > 0)
            logInfo() << expired << " audio files past their keeping time removed";
    } catch (const std::exception& failure) {
        observer_.storeError();
        logWarning() << "removing audio files past their keeping time failed: " << failure.what();
    }
}

void RenderQueue::sendQueuedMail() {
    try {
        for (;;) {
            // One at a time: a claim lasts a lease, and must not run out while mails claimed
            // with it wait behind slow sends (each send gives up within half a minute).
            const auto mails = store_.takeQueuedMail(1);
            if (mails.empty())
                return;
            for (const QueuedMail& mail : mails)
                // Mail that cannot go out now is claimed for a while, then tried again.
                if (mailer_.send(mail.message.to, mail.message.subject, mail.message.body))
                    store_.mailSent(mail.id);
                else
                    return;
        }
    } catch (const std::exception& failure) {
        observer_.storeError();
        logWarning() << "sending the kept mail failed: " << failure.what();
    }
}

std::optional<RenderJob> RenderQueue::take() {
    try {
        return store_.takeNextJob();
    } catch (const std::exception& failure) {
        observer_.storeError();
        // The database is busy or broken: try again later rather than end the service.
        logWarning() << "taking a job failed: " << failure.what();
        return std::nullopt;
    }
}

void RenderQueue::finish(const RenderJob& job, const RenderResult& result,
                         const std::string& output, std::chrono::steady_clock::duration took) {
    if (result.stopped) {
        try {
            store_.returnJob(job.record, job.lease);
        } catch (const std::exception& failure) {
            observer_.storeError();
            // Left locked, it waits again at the next start.
            logWarning() << "returning " << job.name << " to the queue failed: " << failure.what();
        }
        return;
    }
    std::optional<AudioFile> published;
    const auto renderedMail = [&job](const AudioFile& file) {
        return MailMessage{
            job.userId, "Rendered: " + job.name,
            job.name + " has been rendered as " + file.name +
                ".\n\nRefresh the list of audio files online in Tonvert to download it.\n"};
    };
    if (!result.succeeded) {
        // No audio, no fee: a file that cannot be rendered is refunded at once; a render that
        // failed through no fault of its file is tried again, as a full disk's publication is.
        if (result.fileRefused)
            retryLater(job, result.error, {0, 0});
        else
            retryLater(job, result.error.empty() ? "it could not be rendered" : result.error);
        return;
    }
    try {
        // A job whose lease ran out is another worker's now: it publishes, and mails, alone.
        if (!store_.renewLease(job.record, job.lease)) {
            observer_.leaseTakenOver();
            logWarning() << job.name << " was taken over by another worker";
            return;
        }
        std::function<MailMessage(const AudioFile&)> mail;
        if (store_.queuesMail())
            mail = renderedMail;
        published = store_.publishAudio({job.record, result.extension, output, job.lease, mail});
    } catch (const LeaseLost& lost) {
        // The new holder renders, publishes and mails: no failure of the job.
        observer_.leaseTakenOver();
        logWarning() << job.name << ": " << lost.what();
        return;
    } catch (const std::exception& failure) {
        observer_.storeError();
        logWarning() << "publishing " << job.name << " failed: " << failure.what();
        retryLater(job, "it was rendered, but its audio file could not be stored");
        return;
    }
    observer_.renderDone(std::chrono::duration<double>(took).count());
    // The mail goes out once the store has it all; a store that keeps mail has it in the
    // publication's own transaction.
    if (published && store_.queuesMail())
        sendQueuedMail();
    else if (published) {
        const MailMessage mail = renderedMail(*published);
        mailer_.send(mail.to, mail.subject, mail.body);
    }
}

void RenderQueue::retryLater(const RenderJob& job, const std::string& why,
                             const RetryPolicy& policy) {
    observer_.renderFailed();
    RetryResult retry;
    try {
        retry = store_.publishFailed({job.record, policy, options_.uploadFee, job.lease});
    } catch (const std::exception& failure) {
        observer_.storeError();
        // Left locked, it waits again at the next start.
        logWarning() << "keeping " << job.name << " for later failed: " << failure.what();
        return;
    }
    if (retry.outcome != Outcome::done)
        return;
    if (!retry.gaveUp) {
        logWarning() << job.name << " waits again (" << retry.attempts << " failed)";
        return;
    }
    mailer_.send(job.userId, "Not rendered: " + job.name,
                 job.name + " could not be rendered: " + why + ". The upload fee of " +
                     money(retry.refund) + " has been refunded to your account.\n");
}

} // namespace tonvert::service
