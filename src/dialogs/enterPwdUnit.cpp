#include "enterPwdUnit.h"

#include <QLineEdit>
#include <QPushButton>

namespace tonvert {

TenterPwdForm::TenterPwdForm(QWidget* owner)
    : AccountEntryForm(owner,
                       {"enterPwdForm", "Enter password", "passwordStaticText",
                        "My password:", "passwordEdit", "saveBitBtn", "Save password", true},
                       {}) {
    connect(edit_, &QLineEdit::textChanged, this, &TenterPwdForm::passwordEditChange);
    connect(button_, &QPushButton::clicked, this, &TenterPwdForm::saveBitBtnClick);
}

void TenterPwdForm::passwordEditChange() {
    button_->setEnabled(!trimmedText().empty());
}

void TenterPwdForm::saveBitBtnClick() {
    saved = true;
    accept();
}

} // namespace tonvert
