#pragma once

#include <string>

namespace tonvert {

enum class PromptKind { error, information, confirmation, warning };
enum class PromptButtons { ok, yesNo, okAbort, yesNoAbort };
enum class PromptAnswer { ok, yes, no, abort };

// The program's modal message boxes. The application shows real ones; tests answer them.
class Prompts {
public:
    virtual ~Prompts() = default;
    // An empty caption stands for the kind's own ("Error", "Information", ...).
    virtual PromptAnswer show(PromptKind kind, const std::string& caption, const std::string& text,
                              PromptButtons buttons) = 0;
};

} // namespace tonvert
