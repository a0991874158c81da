#pragma once

#include "prompts.h"

class QWidget;

namespace tonvert {

// Message boxes of the toolkit, modal over the window the user works in: the modal dialog
// that is up, else the active window, else the given parent window.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget* parent = nullptr)
        : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    PromptAnswer show(PromptKind kind, const std::string& caption, const std::string& text,
                      PromptButtons buttons) override;

private:
    QWidget* parent_;
};

} // namespace tonvert
