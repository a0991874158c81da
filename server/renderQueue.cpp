#include "renderQueue.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "asciiText.h"
#include "names.h"

namespace tonvert::service {

std::string audioNameFor(const std::string& midiName, const std::string& extension,
                         const std::vector<std::string>& taken) {
    const std::string root = rootOf(midiName);
    const auto free = [&](const std::string& name) {
        return std::none_of(taken.begin(), taken.end(), [&](const std::string& t) {
            return ascii::equalIgnoringCase(t, name);
        });
    };
    // "-2" rather than " (2)": a name of ours adds nothing that a request has to encode.
    std::string name = root + "." + extension;
    for (int n = 2; !free(name); ++n)
        name = root + "-" + std::to_string(n) + "." + extension;
    return name;
}

RenderQueue::RenderQueue(Store& store, Mailer& mailer, Renderer* renderer, unsigned workers)
    : store_(store)
    , mailer_(mailer)
    , renderer_(renderer) {
    {
        std::lock_guard lock(store_.lock());
        store_.requeueUnfinished();
    }
    if (renderer_ == nullptr)
        return;
    for (unsigned i = 0; i < std::max(1u, workers); ++i)
        workers_.emplace_back([this] { work(); });
}

RenderQueue::~RenderQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
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
        RenderJob job;
        {
            std::unique_lock lock(mutex_);
            if (stopping_)
                return;
        }
        bool taken = false;
        try {
            taken = take(job);
        } catch (const std::exception& failure) {
            // The database is busy or broken: try again later rather than end the service.
            std::clog << "taking a job failed: " << failure.what() << std::endl;
        }
        if (!taken) {
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
            result = renderer_->render(job, output);
        } catch (const std::exception& failure) {
            result = {false, "", failure.what()};
        }
        finish(job, result, output);
    }
}

bool RenderQueue::take(RenderJob& job) {
    std::lock_guard lock(store_.lock());
    return store_.db().transaction([&] {
        const auto row = store_.db().queryOne(
            "SELECT r.id, a.user_id, r.name, r.parameters FROM midi_records r JOIN accounts a ON "
            "a.id = r.account WHERE r.state = 'waiting' ORDER BY r.id LIMIT 1");
        if (!row)
            return false;
        job = {asInt((*row)[0]), asText((*row)[1]), asText((*row)[2]), asText((*row)[3]),
               store_.midiPath(asInt((*row)[0]))};
        store_.db().execute("UPDATE midi_records SET state = 'rendering' WHERE id = ?",
                            {job.record});
        return true;
    });
}

void RenderQueue::finish(const RenderJob& job, const RenderResult& result,
                         const std::string& output) {
    std::string audioName;
    bool published = false;
    try {
        std::lock_guard lock(store_.lock());
        published = store_.db().transaction([&] {
            const auto record = store_.midiRecord(job.record);
            store_.db().execute("DELETE FROM midi_records WHERE id = ?", {job.record});
            if (!result.succeeded || !record)
                return false;
            std::vector<std::string> taken;
            for (const AudioFile& file : store_.audioFiles(record->account))
                taken.push_back(file.name);
            audioName = audioNameFor(job.name, result.extension, taken);
            const auto size = static_cast<std::int64_t>(std::filesystem::file_size(output));
            store_.db().execute(
                "INSERT INTO audio_files(account, name, size, created) VALUES(?, ?, ?, "
                "strftime('%s', 'now'))",
                {record->account, audioName, size});
            std::filesystem::rename(output, store_.audioPath(store_.db().lastInsertId()));
            return true;
        });
    } catch (const std::exception& failure) {
        std::clog << "publishing " << job.name << " failed: " << failure.what() << std::endl;
        // The rolled-back transaction left the record locked: it goes, its file goes below.
        try {
            std::lock_guard lock(store_.lock());
            store_.db().execute("DELETE FROM midi_records WHERE id = ?", {job.record});
        } catch (const std::exception&) {
        }
    }
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    std::filesystem::remove(job.midiPath, ignored);
    if (published)
        mailer_.send(
            job.userId, "Rendered: " + job.name,
            job.name + " has been rendered as " + audioName +
                ".\n\nRefresh the list of audio files online in Tonvert to download it.\n");
    else
        mailer_.send(job.userId, "Not rendered: " + job.name,
                     job.name + " could not be rendered: " +
                         (result.error.empty() ? std::string("the audio file could not be stored")
                                               : result.error) +
                         "\n");
}

} // namespace tonvert::service
