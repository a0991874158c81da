#pragma once

#include <functional>
#include <string>

#include "accountEntryForm.h"

namespace tonvert {

// Why "Create account" stays disabled for a (trimmed) address, following the e-mail check;
// empty when the address passes it.
std::string signupButtonHint(const std::string& address);

// Asks for the e-mail address that becomes the user ID. The opener's submit handler talks
// to the service; the dialog closes when it answers true.
class TsignupForm : public AccountEntryForm {
    Q_OBJECT
public:
    explicit TsignupForm(QWidget* owner);

    std::function<bool(const std::string& address)> onSubmit;
    bool submitted = false;

    QLineEdit& emailEdit() { return *edit_; }
    void emailEditChange();
    void submitBitBtnClick();
};

} // namespace tonvert
