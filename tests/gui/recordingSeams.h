#pragma once

#include <deque>
#include <string>
#include <vector>

#include "prompts.h"
#include "shell.h"

namespace tonvert::test {

// Keeps what the program asked of the desktop.
class RecordingShell : public Shell {
public:
    void openUrl(const std::string& url) override { openedUrls.push_back(url); }
    std::vector<std::string> openedUrls;
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

} // namespace tonvert::test
