#pragma once

#include "accountEntryForm.h"

namespace tonvert {

// Lets the user type a new password; the opener stores it when the user chose to save. The
// line opens empty, whatever the opener put in it: the old password is not shown.
class TenterPwdForm : public AccountEntryForm {
    Q_OBJECT
public:
    explicit TenterPwdForm(QWidget* owner);

    bool saved = false;

    QLineEdit& passwordEdit() { return *edit_; }
    void passwordEditChange();
    void saveBitBtnClick();
};

} // namespace tonvert
