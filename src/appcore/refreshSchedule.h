#pragma once

// When the client asks the service again by itself while uploaded files wait to be rendered.
// Plain C++: times are seconds on a steady clock, handed in by the caller.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tonvert {

// The timing of the automatic requests. Quick while a render may end any moment (after an
// upload, or after a render ended), slower once nothing has changed for a long while, and
// never closer together than `minGap`.
struct RefreshPace {
    double first = 2.0;      // from a newly waiting file to the first request
    double minGap = 2.0;     // between two automatic requests, whatever happens
    double quick = 2.25;     // between MIDI list requests in the quick phase
    double quickFor = 600;   // how long the quick phase lasts after its last change
    double growth = 1.5;     // each request after it waits this much longer than the one before
    double longest = 60;     // the longest wait between requests
    double afterFailure = 5; // the first wait after a transport failure; it doubles up to longest
};

enum class OnlineList { midi, audio };

// The MIDI list tells what still waits: each request asks for it, and when a file left it (its
// render ended) the next request asks for the audio list. The schedule stops once the MIDI
// list is empty and the audio list has been fetched after the last render.
class RefreshSchedule {
public:
    explicit RefreshSchedule(RefreshPace pace = {});

    // The MIDI pane now shows `waiting` (record numbers or names of the waiting files), however
    // the list came: by hand, automatically or from the list file at start.
    void midiListed(const std::vector<std::string>& waiting, double now);
    // The audio pane was refreshed from the service.
    void audioListed();
    // An automatic request for `list` went out at `now`; `failed` when it did not get a list
    // (a transport failure).
    void sent(OnlineList list, double now, bool failed);
    // A due request could not go out (another one waited, a dialog was up): try again soon.
    void postpone(double now);
    void stop();

    bool running() const { return running_; }
    // When the next automatic request is due, and which list it asks for.
    double dueAt() const { return dueAt_; }
    OnlineList nextList() const { return audioOwed_ ? OnlineList::audio : OnlineList::midi; }

private:
    void quicken(double now);
    void scheduleAfter(double sentAt, double wait);

    RefreshPace pace_;
    std::set<std::string> waiting_;
    bool running_ = false;
    bool audioOwed_ = false;
    double quickSince_ = 0;
    double lastSent_ = -1e18;
    double lastWait_ = 0;
    double failureWait_ = 0;
    double dueAt_ = 0;
};

// The audio files of a list that the list before it did not hold, in the new list's order.
std::vector<std::string> newNames(const std::set<std::string>& before,
                                  const std::vector<std::string>& now);

} // namespace tonvert
