#pragma once

#include <string>

namespace tonvert {

// Whether a (trimmed) text may be an e-mail address: something before the first "@", no
// second "@" after it, and a "." in the domain part with at least two characters after its
// first ".". Nothing else is asked of it.
bool passesEmailCheck(const std::string& address);

// What the account commands tell the user. `menuPath` names the menu entry to use next,
// as "Setup > Confirm account".
std::string signedUpText(const std::string& userID, const std::string& menuPath);
std::string newPasswordMailedText(const std::string& userID, const std::string& menuPath);
std::string requestPasswordQuestion(const std::string& userID);
std::string confirmButtonCaption(const std::string& userID);
std::string signupButtonCaption(const std::string& address);

inline constexpr const char* kAccountReadyText = "Your account is ready for use!";

} // namespace tonvert
