#include "batchProgress.h"

#include <filesystem>

namespace tonvert::render {

namespace {

// At most `width` bytes, cut before a character rather than inside one.
std::string fitted(std::string line, std::size_t width) {
    if (line.size() <= width)
        return line;
    std::size_t cut = width;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    line.resize(cut);
    return line;
}

} // namespace

BatchProgress::BatchProgress(std::FILE* results, std::FILE* log, bool inPlace, std::size_t total,
                             std::size_t slots, std::size_t width)
    : results_(results)
    , log_(log)
    , inPlace_(inPlace)
    , total_(total)
    , width_(width)
    , slotCount_(slots)
    , slots_(std::make_unique<Slot[]>(slots)) {}

void BatchProgress::started(std::size_t slot, const std::string& input) {
    slots_[slot].percent.store(0);
    std::lock_guard lock(mutex_);
    slots_[slot].name = std::filesystem::path(input).filename().string();
    drawLocked();
}

void BatchProgress::advanced(std::size_t slot, double fraction) {
    const int percent = static_cast<int>(fraction * 100);
    // Most calls change nothing shown: they take no lock.
    if (!inPlace_ || slots_[slot].percent.exchange(percent) == percent)
        return;
    std::lock_guard lock(mutex_);
    drawLocked();
}

void BatchProgress::finished(std::size_t slot, const BatchJob& job, const RenderReport& report) {
    std::lock_guard lock(mutex_);
    slots_[slot].name.clear();
    if (report.stopped)
        return drawLocked();
    ++done_;
    if (inPlace_)
        std::fputs("\r\033[K", log_);
    if (report.succeeded) {
        std::fprintf(results_,
                     "%s: %.2f s of MIDI, %.2f s of audio, loudness %.1f LUFS, gain %+.1f dB, %s\n",
                     job.output.c_str(), report.playTime, report.duration, report.loudness,
                     report.gainDb, report.encoder.c_str());
        std::fflush(results_);
        if (!inPlace_)
            std::fprintf(log_, "%zu/%zu done: %s\n", done_, total_, job.input.c_str());
    } else {
        ++failed_;
        std::fprintf(log_, "tonvert-render: %s: %s\n", job.input.c_str(), report.error.c_str());
    }
    drawLocked();
}

void BatchProgress::end() {
    std::lock_guard lock(mutex_);
    if (inPlace_)
        std::fputs("\n", log_);
}

std::string BatchProgress::statusLocked() const {
    std::string line = std::to_string(done_) + "/" + std::to_string(total_) + " done";
    if (failed_ > 0)
        line += " (" + std::to_string(failed_) + " failed)";
    std::string running;
    std::size_t count = 0;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        if (slots_[i].name.empty())
            continue;
        ++count;
        running += (running.empty() ? ": " : ", ") + slots_[i].name + " " +
                   std::to_string(slots_[i].percent.load()) + "%";
    }
    if (count > 0)
        line += ", " + std::to_string(count) + " rendering" + running;
    return line;
}

void BatchProgress::drawLocked() {
    if (!inPlace_)
        return;
    std::fprintf(log_, "\r%s\033[K", fitted(statusLocked(), width_ > 1 ? width_ - 1 : 79).c_str());
    std::fflush(log_);
}

} // namespace tonvert::render
