#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "connectionState.h"
#include "mainState.h"
#include "notifications.h"
#include "prompts.h"
#include "qtMessagePump.h"
#include "shell.h"

#include <QObject>
#include <QTimer>

namespace tonvert::test {

// Closes every about box (the splash included) as soon as it is up, and counts them.
class AboutBoxCloser : public QObject {
public:
    AboutBoxCloser();
    int closed = 0;

private:
    QTimer timer_;
};

// Keeps what the program asked of the desktop. File operations are carried out for real
// (plain deletes instead of the trash) unless `refuse` is set, which also leaves files with
// no program to open them. Opening fails with `openFailure` when it is set.
class RecordingShell : public Shell {
public:
    void openUrl(const std::string& url, OpenFailed onFailure) override;
    void playFile(const std::string& path, OpenFailed onFailure) override;
    void copyToClipboard(const std::string& text) override { copiedTexts.push_back(text); }
    std::vector<std::string> trashFiles(const std::vector<std::string>& paths) override;
    std::vector<std::string> copyFiles(const std::vector<std::string>& sources,
                                       const std::vector<std::string>& destinations) override;
    bool renameFile(const std::string& from, const std::string& to,
                    std::string& finalPath) override;
    // Gives `chosenFolder`, or none when it is empty.
    bool pickFolder(const std::string& title, std::string& folder) override;

    bool refuse = false;
    std::optional<OpenFailure> openFailure;
    std::string chosenFolder;
    std::vector<std::string> folderTitles;
    std::vector<std::string> openedUrls;
    std::vector<std::string> played;
    std::vector<std::string> copiedTexts;
    std::vector<std::string> trashed;
    std::vector<std::string> copied;
    std::vector<std::pair<std::string, std::string>> renamed;
};

// Keeps every message and answers from a queue (OK, or No, when the queue is empty).
class RecordingPrompts : public Prompts {
public:
    struct Shown {
        PromptKind kind;
        std::string caption;
        std::string text;
        PromptButtons buttons;
    };
    PromptAnswer show(PromptKind kind, const std::string& caption, const std::string& text,
                      PromptButtons buttons) override;
    std::vector<Shown> shown;
    std::deque<PromptAnswer> answers;
};

// A clock that tells the time it was set to.
class FixedClock : public Clock {
public:
    double now() override { return time; }
    double time = 46000.5; // 9 December 2025, noon
};

// Keeps the notices sent to the desktop; a test picks an action by calling it.
class RecordingNotifications : public Notifications {
public:
    struct Notice {
        std::string summary, body, actionLabel;
        std::function<void()> onAction;
    };
    void notify(const std::string& summary, const std::string& body, const std::string& actionLabel,
                std::function<void()> onAction) override {
        notices.push_back({summary, body, actionLabel, std::move(onAction)});
    }
    std::vector<Notice> notices;
};

// The seams of a window under test: recording shell and prompts, a permanent connection, the
// real message pump.
struct TestSeams {
    RecordingShell shell;
    RecordingPrompts prompts;
    PermanentConnection connection;
    QtMessagePump pump;
    FixedClock clock;
    RecordingNotifications notifications;
    Seams seams() { return {prompts, shell, connection, pump, clock}; }
};

} // namespace tonvert::test
