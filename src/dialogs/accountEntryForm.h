#pragma once

#include <QDialog>
#include <functional>
#include <initializer_list>
#include <string>

class QLineEdit;
class QPushButton;

namespace tonvert {

// The frame of the small account dialogs: one line to fill in under its label, lines of
// explanation, and one wide button. Enter submits nothing; Escape closes.
class AccountEntryForm : public QDialog {
    Q_OBJECT
public:
    // The entered text without the characters of codes 0 to 32 at both ends.
    std::string trimmedText() const;

public slots:
    // Escape and the close box; while a submission waits for the service they wait too.
    void reject() override;

protected:
    struct Names {
        const char* form;
        const char* caption;
        const char* label;
        const char* labelText;
        const char* edit;
        const char* button;
        const char* buttonCaption;
        // A secret line shows dots, with a "Show" box beside it that reveals the text.
        bool secret = false;
    };
    // Each explanation is an object name and its text.
    struct Explanation {
        const char* name;
        const char* text;
    };
    AccountEntryForm(QWidget* owner, const Names& names,
                     std::initializer_list<Explanation> explanations);

    // Hands the entered text to `handler`, which may talk to the service: meanwhile the line
    // and the button are off, so nothing is sent twice. Gives the handler's answer.
    bool submit(const std::function<bool(const std::string&)>& handler);

    QLineEdit* edit_;
    QPushButton* button_;

private:
    bool submitting_ = false;
};

} // namespace tonvert
