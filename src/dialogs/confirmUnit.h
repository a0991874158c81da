#pragma once

#include <functional>
#include <string>

#include "accountEntryForm.h"

namespace tonvert {

// Asks for the password that the service mailed. The opener's submit handler confirms the
// account; the dialog closes when it answers true.
class TconfirmForm : public AccountEntryForm {
    Q_OBJECT
public:
    explicit TconfirmForm(QWidget* owner);

    std::function<bool(const std::string& password)> onSubmit;

    QLineEdit& passwordEdit() { return *edit_; }
    QPushButton& submitBitBtn() { return *button_; }
    void passwordEditChange();
    void submitBitBtnClick();
};

} // namespace tonvert
