#include "batchRender.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tonvert::render {

namespace fs = std::filesystem;

namespace {

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// A name in the output's folder that no other job or process takes, hidden from listings.
fs::path partName(const fs::path& output, std::size_t job) {
    return output.parent_path() /
           ("." + output.filename().string() + "." + std::to_string(::getpid()) + "-" +
            std::to_string(job) + ".part");
}

RenderReport renderWhole(const BatchJob& job, std::size_t index, const RenderPreset& preset,
                         const RenderOptions& options,
                         const std::function<void(double)>& progress) {
    const fs::path part = partName(job.output, index);
    RenderReport report = renderMidiFile(job.input, part.string(), preset, options, progress);
    std::error_code error;
    if (report.succeeded) {
        fs::rename(part, job.output, error);
        if (error) {
            report.succeeded = false;
            report.error = "cannot move it into place: " + error.message();
        }
    }
    if (!report.succeeded) {
        fs::remove(part, error);
        replaceAll(report.error, part.string(), job.output);
    }
    return report;
}

struct Pool {
    const std::vector<BatchJob>& jobs;
    const RenderPreset& preset;
    const RenderOptions& options;
    BatchProgress& progress;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> rendered{0};
    std::atomic<std::size_t> failed{0};

    bool stopAsked() const { return options.stop != nullptr && options.stop->load(); }

    void work(std::size_t slot) {
        for (std::size_t index = next++; index < jobs.size() && !stopAsked(); index = next++) {
            RenderReport report;
            try {
                progress.started(slot, jobs[index].input);
                report = renderWhole(jobs[index], index, preset, options,
                                     [&](double done) { progress.advanced(slot, done); });
            } catch (const std::exception& e) {
                report.error = e.what();
            }
            progress.finished(slot, jobs[index], report);
            if (report.succeeded)
                ++rendered;
            else if (!report.stopped)
                ++failed;
        }
    }
};

// The largest files first: the last renders to start are then short ones, and the cores end
// nearly together rather than one long piece running on alone at the end.
std::vector<BatchJob> largestFirst(std::vector<BatchJob> jobs) {
    std::vector<std::pair<std::uintmax_t, BatchJob>> sized;
    for (BatchJob& job : jobs) {
        std::error_code unknown;
        const std::uintmax_t size = fs::file_size(job.input, unknown);
        sized.emplace_back(unknown ? 0 : size, std::move(job));
    }
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    jobs.clear();
    for (auto& [size, job] : sized)
        jobs.push_back(std::move(job));
    return jobs;
}

} // namespace

unsigned usableCores() {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&allowed)));
    return std::max(1u, std::thread::hardware_concurrency());
}

BatchOutcome renderBatch(const std::vector<BatchJob>& jobs, const RenderPreset& preset,
                         RenderOptions options, unsigned workers, BatchProgress& progress) {
    const std::size_t threads =
        std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(1, jobs.size()));
    const std::vector<BatchJob> ordered = threads > 1 ? largestFirst(jobs) : jobs;
    if (threads > 1)
        options.cpuCores = 1;
    Pool pool{ordered, preset, options, progress};
    {
        std::vector<std::jthread> running;
        for (std::size_t slot = 0; slot < threads; ++slot)
            running.emplace_back([&pool, slot] { pool.work(slot); });
    }
    const std::size_t ended = pool.rendered + pool.failed;
    return {pool.rendered.load(), pool.failed.load(), pool.stopAsked() && ended < jobs.size()};
}

} // namespace tonvert::render
