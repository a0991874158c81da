#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "mainState.h"
#include "refreshSchedule.h"

namespace tonvert {

class Notifications;
class OnlinePane;

// Renders that arrive by themselves: while the MIDI pane lists files waiting to be rendered,
// the lists are asked for again on the schedule's pace; an audio file that the last list did
// not hold is announced on the desktop with a Download action, or downloaded at once when the
// user asked for that. Automatic requests follow the rule of every request (none while
// another waits) and wait for the modal dialogs and boxes to close.
class OnlineArrivals : public QObject {
    Q_OBJECT
public:
    using Download = std::function<void(const std::vector<std::string>& names)>;

    OnlineArrivals(OnlinePane& midiPane, OnlinePane& audioPane, MainState& state,
                   Notifications& notifications, Download download, QObject* parent = nullptr);

    // The panes show the lists kept from the last run: they are what later lists are compared
    // with, and files still waiting in them are asked after.
    void start();
    const RefreshSchedule& schedule() const { return schedule_; }
    // Where later notices go instead (tests).
    void setNotifications(Notifications& notifications) { notifications_ = &notifications; }

private:
    double now() const;
    bool busy() const;
    void midiShown();
    void audioShown();
    void tick();
    void rearm();
    void announce(const std::vector<std::string>& names);
    void downloadWhenFree();

    OnlinePane& midiPane_;
    OnlinePane& audioPane_;
    MainState& state_;
    Notifications* notifications_;
    Download download_;
    RefreshSchedule schedule_;
    QElapsedTimer clock_;
    QTimer timer_;
    QTimer downloadTimer_;
    bool started_ = false;
    bool ticking_ = false;
    std::set<std::string> knownAudio_;
    std::vector<std::string> downloadsOwed_;
};

} // namespace tonvert
