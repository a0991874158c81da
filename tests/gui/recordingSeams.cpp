#include "recordingSeams.h"

namespace tonvert::test {

PromptAnswer RecordingPrompts::show(PromptKind kind, const std::string& caption,
                                    const std::string& text, PromptButtons buttons) {
    shown.push_back({kind, caption, text, buttons});
    if (!answers.empty()) {
        const PromptAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == PromptButtons::ok ? PromptAnswer::ok : PromptAnswer::no;
}

} // namespace tonvert::test
