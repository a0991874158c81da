#include "refreshSchedule.h"

#include <algorithm>

namespace tonvert {

RefreshSchedule::RefreshSchedule(RefreshPace pace)
    : pace_(pace) {}

void RefreshSchedule::midiListed(const std::vector<std::string>& waiting, double now) {
    std::set<std::string> listed(waiting.begin(), waiting.end());
    const bool gained = std::any_of(listed.begin(), listed.end(),
                                    [&](const std::string& file) { return !waiting_.count(file); });
    const bool lost = std::any_of(waiting_.begin(), waiting_.end(),
                                  [&](const std::string& file) { return !listed.count(file); });
    waiting_ = std::move(listed);
    const bool wasRunning = running_;
    running_ = !waiting_.empty() || audioOwed_ || lost;
    if (!running_)
        return;
    if (lost) {
        // A render ended: its audio file is fetched next, and the next render may end soon.
        audioOwed_ = true;
        quicken(now);
        dueAt_ = std::max(now, lastSent_ + pace_.minGap);
    } else if (gained || !wasRunning) {
        quicken(now);
        dueAt_ = std::max(now + pace_.first, lastSent_ + pace_.minGap);
    }
}

void RefreshSchedule::audioListed() {
    audioOwed_ = false;
    if (waiting_.empty())
        running_ = false;
}

void RefreshSchedule::sent(OnlineList list, double now, bool failed) {
    lastSent_ = now;
    if (failed) {
        failureWait_ =
            failureWait_ == 0 ? pace_.afterFailure : std::min(pace_.longest, failureWait_ * 2);
        scheduleAfter(now, failureWait_);
        return;
    }
    failureWait_ = 0;
    if (audioOwed_ && list == OnlineList::midi) {
        scheduleAfter(now, pace_.minGap);
        return;
    }
    if (now - quickSince_ < pace_.quickFor) {
        lastWait_ = pace_.quick;
    } else {
        lastWait_ = std::min(pace_.longest, std::max(lastWait_, pace_.quick) * pace_.growth);
    }
    scheduleAfter(now, lastWait_);
}

void RefreshSchedule::postpone(double now) {
    dueAt_ = std::max(now + 0.5, lastSent_ + pace_.minGap);
}

void RefreshSchedule::stop() {
    running_ = false;
    audioOwed_ = false;
}

void RefreshSchedule::quicken(double now) {
    quickSince_ = now;
    lastWait_ = 0;
}

void RefreshSchedule::scheduleAfter(double sentAt, double wait) {
    dueAt_ = sentAt + std::max(wait, pace_.minGap);
}

std::vector<std::string> newNames(const std::set<std::string>& before,
                                  const std::vector<std::string>& now) {
    std::vector<std::string> fresh;
    for (const std::string& name : now)
        if (!before.count(name) && std::find(fresh.begin(), fresh.end(), name) == fresh.end())
            fresh.push_back(name);
    return fresh;
}

} // namespace tonvert
