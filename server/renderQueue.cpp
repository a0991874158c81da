#include "renderQueue.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "commands.h"

namespace tonvert::service {

RenderQueue::RenderQueue(Store& store, Mailer& mailer, Renderer* renderer, QueueOptions options)
    : store_(store)
    , mailer_(mailer)
    , renderer_(renderer)
    , options_(options) {
    store_.requeueUnfinished();
    if (renderer_ == nullptr)
        return;
    for (unsigned i = 0; i < std::max(1u, options_.workers); ++i)
        workers_.emplace_back([this] { work(); });
}

RenderQueue::~RenderQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (renderer_ != nullptr)
        renderer_->requestStop();
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
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
        const std::optional<RenderJob> job = take();
        if (!job) {
            std::unique_lock lock(mutex_);
            // Woken by a new record; the time-out is only a safety net.
            wake_.wait_for(lock, std::chrono::seconds(5),
                           [this] { return stopping_ || signals_ > 0; });
            if (signals_ > 0)
                --signals_;
            continue;
        }
        const std::string output = store_.scratchPath();
        RenderResult result;
        try {
            result = renderer_->render(*job, output);
        } catch (const std::exception& failure) {
            result = {false, "", failure.what()};
        }
        finish(*job, result, output);
    }
}

std::optional<RenderJob> RenderQueue::take() {
    try {
        return store_.takeNextJob();
    } catch (const std::exception& failure) {
        // The database is busy or broken: try again later rather than end the service.
        std::clog << "taking a job failed: " << failure.what() << std::endl;
        return std::nullopt;
    }
}

void RenderQueue::finish(const RenderJob& job, const RenderResult& result,
                         const std::string& output) {
    std::error_code ignored;
    if (result.stopped) {
        std::filesystem::remove(output, ignored);
        try {
            store_.returnJob(job.record);
        } catch (const std::exception& failure) {
            // Left locked, it waits again at the next start.
            std::clog << "returning " << job.name << " to the queue failed: " << failure.what()
                      << std::endl;
        }
        return;
    }
    std::optional<AudioFile> published;
    try {
        if (result.succeeded)
            published = store_.publishAudio({job.record, result.extension, output});
        else
            store_.discardJob(job.record);
    } catch (const std::exception& failure) {
        std::filesystem::remove(output, ignored);
        std::clog << (result.succeeded ? "publishing " : "discarding ") << job.name
                  << " failed: " << failure.what() << std::endl;
        // The rolled-back transaction left the record locked. A render that failed waits
        // again at the next start.
        if (result.succeeded)
            retryLater(job);
        return;
    }
    std::filesystem::remove(output, ignored);
    // The mail goes out once the store has it all.
    if (published)
        mailer_.send(
            job.userId, "Rendered: " + job.name,
            job.name + " has been rendered as " + published->name +
                ".\n\nRefresh the list of audio files online in Tonvert to download it.\n");
    else
        mailer_.send(job.userId, "Not rendered: " + job.name,
                     job.name + " could not be rendered: " +
                         (result.error.empty() ? std::string("the audio file could not be stored")
                                               : result.error) +
                         "\n");
}

void RenderQueue::retryLater(const RenderJob& job) {
    RetryResult retry;
    try {
        retry = store_.publishFailed({job.record, options_.publishRetry, options_.uploadFee});
    } catch (const std::exception& failure) {
        // Left locked, it waits again at the next start.
        std::clog << "keeping " << job.name << " for later failed: " << failure.what() << std::endl;
        return;
    }
    if (retry.outcome != Outcome::done)
        return;
    if (!retry.gaveUp) {
        std::clog << job.name << " waits again (" << retry.attempts << " failed)" << std::endl;
        return;
    }
    mailer_.send(job.userId, "Not rendered: " + job.name,
                 job.name +
                     " was rendered, but its audio file could not be stored. The upload fee of " +
                     money(retry.refund) + " has been refunded to your account.\n");
}

} // namespace tonvert::service
