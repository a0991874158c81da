#include "onlineArrivals.h"

#include <QApplication>
#include <algorithm>

#include "notifications.h"
#include "onlinePane.h"

namespace tonvert {

namespace {

constexpr int kDownloadRetryMs = 1000;

std::vector<std::string> namesOf(const std::vector<FileRow>& rows) {
    std::vector<std::string> names;
    for (const FileRow& row : rows)
        names.push_back(row.fileName);
    return names;
}

// A waiting upload is its record: the same name may wait twice.
std::vector<std::string> recordsOf(const std::vector<FileRow>& rows) {
    std::vector<std::string> records;
    for (const FileRow& row : rows)
        records.push_back(std::to_string(row.record.value_or(-1)) + "/" + row.fileName);
    return records;
}

std::string joinedLines(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : "\n") + name;
    return text;
}

} // namespace

OnlineArrivals::OnlineArrivals(OnlinePane& midiPane, OnlinePane& audioPane, MainState& state,
                               Notifications& notifications, Download download, QObject* parent)
    : QObject(parent)
    , midiPane_(midiPane)
    , audioPane_(audioPane)
    , state_(state)
    , notifications_(&notifications)
    , download_(std::move(download)) {
    clock_.start();
    timer_.setSingleShot(true);
    downloadTimer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &OnlineArrivals::tick);
    connect(&downloadTimer_, &QTimer::timeout, this, &OnlineArrivals::downloadWhenFree);
    connect(&midiPane_, &OnlinePane::listShown, this, &OnlineArrivals::midiShown);
    connect(&audioPane_, &OnlinePane::listShown, this, &OnlineArrivals::audioShown);
}

void OnlineArrivals::start() {
    if (started_)
        return;
    started_ = true;
    const std::vector<std::string> names = namesOf(audioPane_.model().rows());
    knownAudio_ = {names.begin(), names.end()};
    midiShown();
}

double OnlineArrivals::now() const {
    return static_cast<double>(clock_.elapsed()) / 1000.0;
}

// A modal dialog or box is up: its own transfers, or the user's answer, come first.
bool OnlineArrivals::busy() const {
    return state_.requestWaiting() || QApplication::activeModalWidget() != nullptr;
}

void OnlineArrivals::midiShown() {
    if (!started_)
        return;
    if (state_.hasCredentials() && midiPane_.listValid())
        schedule_.midiListed(recordsOf(midiPane_.model().rows()), now());
    else if (!state_.hasCredentials())
        schedule_.stop();
    rearm();
}

void OnlineArrivals::audioShown() {
    if (!started_ || !audioPane_.listValid())
        return;
    const std::vector<std::string> names = namesOf(audioPane_.model().rows());
    const std::vector<std::string> fresh = newNames(knownAudio_, names);
    knownAudio_ = {names.begin(), names.end()};
    schedule_.audioListed();
    rearm();
    if (!fresh.empty())
        announce(fresh);
}

void OnlineArrivals::tick() {
    if (!schedule_.running())
        return;
    if (busy()) {
        schedule_.postpone(now());
        rearm();
        return;
    }
    ticking_ = true;
    const OnlineList list = schedule_.nextList();
    OnlinePane& pane = list == OnlineList::midi ? midiPane_ : audioPane_;
    const QuietRefresh outcome = pane.refreshQuietly();
    switch (outcome) {
    case QuietRefresh::shown:
    case QuietRefresh::transportFailed:
        schedule_.sent(list, now(), outcome == QuietRefresh::transportFailed);
        break;
    case QuietRefresh::notNow:
        schedule_.postpone(now());
        break;
    case QuietRefresh::refused:
        // The service turned the account's request down (a changed password, say): asking
        // again would only be turned down again. A refresh by hand starts anew.
        schedule_.stop();
        break;
    }
    ticking_ = false;
    rearm();
}

void OnlineArrivals::rearm() {
    if (ticking_)
        return;
    if (!schedule_.running()) {
        timer_.stop();
        return;
    }
    const double wait = std::max(0.0, schedule_.dueAt() - now());
    timer_.start(static_cast<int>(wait * 1000.0 + 0.5));
}

void OnlineArrivals::announce(const std::vector<std::string>& names) {
    const std::string summary = names.size() == 1
                                    ? "Audio file ready"
                                    : std::to_string(names.size()) + " audio files ready";
    if (state_.autoDownload) {
        notifications_->notify(
            summary, "Downloading into your audio folder:\n" + joinedLines(names), "", nullptr);
        downloadsOwed_.insert(downloadsOwed_.end(), names.begin(), names.end());
        // From the event loop: the list that brought them is still being shown.
        downloadTimer_.start(0);
        return;
    }
    notifications_->notify(summary, joinedLines(names), "Download", [this, names] {
        downloadsOwed_.insert(downloadsOwed_.end(), names.begin(), names.end());
        downloadWhenFree();
    });
}

void OnlineArrivals::downloadWhenFree() {
    if (downloadsOwed_.empty())
        return;
    if (busy()) {
        downloadTimer_.start(kDownloadRetryMs);
        return;
    }
    std::vector<std::string> names;
    names.swap(downloadsOwed_);
    download_(names);
}

} // namespace tonvert
