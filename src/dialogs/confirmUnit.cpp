#include "confirmUnit.h"

#include <QLineEdit>
#include <QPushButton>

namespace tonvert {

TconfirmForm::TconfirmForm(QWidget* owner)
    : AccountEntryForm(owner,
                       {"confirmForm", "Confirm account", "passwordStaticText",
                        "My password:", "passwordEdit", "submitBitBtn", "Confirm account", true},
                       {{"explanationStaticText",
                         "To activate your account, enter the password which was e-mailed to "
                         "you and click the button."}}) {
    connect(edit_, &QLineEdit::textChanged, this, &TconfirmForm::passwordEditChange);
    connect(button_, &QPushButton::clicked, this, &TconfirmForm::submitBitBtnClick);
}

void TconfirmForm::passwordEditChange() {
    button_->setEnabled(!trimmedText().empty());
}

void TconfirmForm::submitBitBtnClick() {
    if (submit(onSubmit))
        accept();
}

} // namespace tonvert
