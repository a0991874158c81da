#include "signupUnit.h"

#include <QLineEdit>
#include <QPushButton>

#include "accountTexts.h"
#include "textCodec.h"

namespace tonvert {

TsignupForm::TsignupForm(QWidget* owner)
    : AccountEntryForm(owner,
                       {"signupForm", "Sign up", "emailStaticText",
                        "My e-mail address:", "emailEdit", "submitBitBtn", "Create account"},
                       {{"explanationStaticText1",
                         "The e-mail address specified here becomes your user ID. All messages "
                         "about the service (including job result"},
                        {"explanationStaticText2",
                         "notifications and your PASSWORD) will be sent there, so use a real "
                         "address and double-check your spelling!"}}) {
    connect(edit_, &QLineEdit::textChanged, this, &TsignupForm::emailEditChange);
    connect(button_, &QPushButton::clicked, this, &TsignupForm::submitBitBtnClick);
}

void TsignupForm::emailEditChange() {
    const std::string address = trimmedText();
    const bool plausible = passesEmailCheck(address);
    button_->setText(plausible ? toQString(signupButtonCaption(address))
                               : QStringLiteral("Create account"));
    button_->setEnabled(plausible);
}

void TsignupForm::submitBitBtnClick() {
    submitted = submit(onSubmit);
    if (submitted)
        accept();
}

} // namespace tonvert
