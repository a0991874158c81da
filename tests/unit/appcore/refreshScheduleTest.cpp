#include "refreshSchedule.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tonvert {
namespace {

// A service whose renders end at given times after the upload at 0, polled as the client
// does: each due request sees the lists as they stand when it is answered.
struct Simulation {
    std::vector<double> renderEnds;
    double replyTime = 0.1;

    std::vector<std::string> waitingAt(double t) const {
        std::vector<std::string> waiting;
        for (std::size_t i = 0; i < renderEnds.size(); ++i)
            if (renderEnds[i] > t)
                waiting.push_back(std::to_string(i));
        return waiting;
    }

    // Runs until the schedule stops; gives when each render's audio was first listed, and the
    // times the requests went out.
    std::vector<double> run(RefreshSchedule& schedule, std::vector<double>& sentTimes) const {
        std::vector<double> listedAt(renderEnds.size(), -1);
        schedule.midiListed(waitingAt(0), 0);
        for (int guard = 0; schedule.running() && guard < 10000; ++guard) {
            const double t = schedule.dueAt();
            const OnlineList list = schedule.nextList();
            sentTimes.push_back(t);
            const double answered = t + replyTime;
            if (list == OnlineList::midi) {
                schedule.midiListed(waitingAt(answered), answered);
            } else {
                for (std::size_t i = 0; i < renderEnds.size(); ++i)
                    if (renderEnds[i] <= answered && listedAt[i] < 0)
                        listedAt[i] = answered;
                schedule.audioListed();
            }
            schedule.sent(list, answered, false);
        }
        return listedAt;
    }
};

TEST(RefreshScheduleTest, AudioIsListedWithinFiveSecondsOfEveryRenderInTheFirstTenMinutes) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> within(0.5, 600);
    for (int run = 0; run < 50; ++run) {
        Simulation service;
        for (int file = 0; file < 3; ++file)
            service.renderEnds.push_back(within(random));
        RefreshSchedule schedule;
        std::vector<double> sent;
        const std::vector<double> listedAt = service.run(schedule, sent);
        for (std::size_t i = 0; i < listedAt.size(); ++i) {
            ASSERT_GE(listedAt[i], service.renderEnds[i]) << "run " << run;
            EXPECT_LE(listedAt[i] - service.renderEnds[i], 5.0) << "run " << run << " file " << i;
        }
        for (std::size_t i = 1; i < sent.size(); ++i)
            ASSERT_GE(sent[i] - sent[i - 1], 2.0) << "run " << run;
        EXPECT_FALSE(schedule.running());
    }
}

TEST(RefreshScheduleTest, PaceAfterTheQuickPhaseAndAfterFailures) {
    struct Case {
        const char* what;
        bool failing;
        double from;
        std::vector<double> waits;
    };
    const std::vector<Case> cases = {
        {"quick phase", false, 0, {2.25, 2.25, 2.25}},
        {"after ten minutes without change", false, 601, {3.375, 5.0625, 7.59375}},
        {"transport failures", true, 0, {5, 10, 20, 40, 60, 60}},
    };
    for (const Case& c : cases) {
        RefreshSchedule schedule;
        schedule.midiListed({"1"}, 0);
        double t = c.from;
        for (double wait : c.waits) {
            schedule.sent(OnlineList::midi, t, c.failing);
            EXPECT_DOUBLE_EQ(schedule.dueAt() - t, wait) << c.what;
            t = schedule.dueAt();
        }
        EXPECT_TRUE(schedule.running()) << c.what;
    }
}

TEST(RefreshScheduleTest, ListsThatStartOrStopTheSchedule) {
    RefreshSchedule schedule;
    schedule.midiListed({}, 0);
    EXPECT_FALSE(schedule.running()) << "nothing waits";

    schedule.midiListed({"1"}, 10);
    EXPECT_TRUE(schedule.running());
    EXPECT_DOUBLE_EQ(schedule.dueAt(), 12) << "soon after a file starts waiting";
    schedule.postpone(12);
    EXPECT_DOUBLE_EQ(schedule.dueAt(), 12.5) << "a busy moment puts it off briefly";

    schedule.midiListed({}, 13); // emptied by a refresh by hand: the audio list is still owed
    EXPECT_TRUE(schedule.running());
    EXPECT_EQ(schedule.nextList(), OnlineList::audio);
    schedule.audioListed();
    EXPECT_FALSE(schedule.running());
}

TEST(RefreshScheduleTest, NewNamesKeepTheListsOrderOnce) {
    EXPECT_EQ(newNames({"A.MP3", "B.OGG"}, {"C.WAV", "A.MP3", "D.MP3", "C.WAV"}),
              (std::vector<std::string>{"C.WAV", "D.MP3"}));
    EXPECT_TRUE(newNames({"A.MP3"}, {"A.MP3"}).empty());
}

} // namespace
} // namespace tonvert
