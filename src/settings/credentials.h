#pragma once

#include <optional>
#include <string>

#include "portableIniFiles.h"

namespace tonvert {

// Each byte as two upper-case hexadecimal digits.
std::string textToHex(const std::string& text);

// Pairs of hexadecimal digits (either case) back to bytes; a last digit without a partner
// is ignored. Gives nothing when a pair is not hexadecimal.
std::optional<std::string> hexToText(const std::string& hex);

struct Credentials {
    std::string userID;
    std::string password;
};

// The user ID and password are kept in section "Account", keys "UserID" and "Password",
// enciphered under the program's fixed key and written as hexadecimal. A missing key, or a
// stored value that is not hexadecimal, reads as empty.
Credentials readCredentials(const TPortableIniFile& ini);
void writeCredentials(TPortableIniFile& ini, const Credentials& credentials);

} // namespace tonvert
