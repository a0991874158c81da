#include "signupUnit.h"

#include <QLineEdit>
#include <QPushButton>

#include "accountTexts.h"
#include "textCodec.h"

namespace tonvert {

std::string signupButtonHint(const std::string& address) {
    if (address.empty())
        return "Enter your e-mail address";
    const std::size_t at = address.find('@');
    if (at == std::string::npos)
        return "An e-mail address has an \"@\" in it";
    if (at == 0)
        return "Enter the name before the \"@\"";
    const std::string domain = address.substr(at + 1);
    if (domain.find('@') != std::string::npos)
        return "An e-mail address has only one \"@\"";
    if (!passesEmailCheck(address))
        return "Enter the whole domain after the \"@\", such as example.org";
    return {};
}

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
    emailEditChange();
}

void TsignupForm::emailEditChange() {
    const std::string address = trimmedText();
    const bool plausible = passesEmailCheck(address);
    button_->setText(plausible ? toQString(signupButtonCaption(address))
                               : QStringLiteral("Create account"));
    button_->setEnabled(plausible);
    // A disabled button says what it waits for.
    button_->setToolTip(toQString(signupButtonHint(address)));
}

void TsignupForm::submitBitBtnClick() {
    submitted = submit(onSubmit);
    if (submitted)
        accept();
}

} // namespace tonvert
