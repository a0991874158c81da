#include "enterPwdUnit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tonvert {

TenterPwdForm::TenterPwdForm(QWidget* owner)
    : AccountEntryForm(owner,
                       {"enterPwdForm", "Enter password", "passwordStaticText",
                        "My password:", "passwordEdit", "saveBitBtn", "Save password", true},
                       {}) {
    connect(edit_, &QLineEdit::textChanged, this, &TenterPwdForm::passwordEditChange);
    connect(button_, &QPushButton::clicked, this, &TenterPwdForm::saveBitBtnClick);
}

void TenterPwdForm::showEvent(QShowEvent* event) {
    // A new password is typed afresh; the current one would only be shown to whoever looks.
    // The window system's own showings (after a minimise) keep what the user typed.
    if (!event->spontaneous())
        edit_->clear();
    AccountEntryForm::showEvent(event);
}

void TenterPwdForm::passwordEditChange() {
    button_->setEnabled(!trimmedText().empty());
}

void TenterPwdForm::saveBitBtnClick() {
    saved = true;
    accept();
}

} // namespace tonvert
