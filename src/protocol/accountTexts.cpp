#include "accountTexts.h"

namespace tonvert {

bool passesEmailCheck(const std::string& address) {
    const std::size_t at = address.find('@');
    if (at == std::string::npos || at == 0)
        return false;
    const std::string domain = address.substr(at + 1);
    if (domain.find('@') != std::string::npos)
        return false;
    const std::size_t dot = domain.find('.');
    return dot != std::string::npos && domain.size() - dot - 1 >= 2;
}

std::string signedUpText(const std::string& userID, const std::string& menuPath) {
    return "Your account has been created. The account password has been mailed to\n\n" + userID +
           "\n\nWhen you receive it, use the \"" + menuPath +
           "\" menu entry to activate your account.";
}

std::string newPasswordMailedText(const std::string& userID, const std::string& menuPath) {
    return "Your new password has been mailed to\n\n" + userID +
           "\n\nWhen you receive it, use the \"" + menuPath + "\" menu entry to enter it.";
}

std::string requestPasswordQuestion(const std::string& userID) {
    return "Invalidate current password and e-mail replacement to\n\n" + userID;
}

std::string confirmButtonCaption(const std::string& userID) {
    return "Confirm account tied to e-mail address \"" + userID + "\"";
}

std::string signupButtonCaption(const std::string& address) {
    return "Create account tied to e-mail address \"" + address + "\"";
}

} // namespace tonvert
