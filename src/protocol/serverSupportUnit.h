#pragma once

#include <string>

namespace tonvert {

// Reads a service reply that may be an error reply ("!ERR " and a code, after optional
// leading blanks and control characters). True when it is one: `message` is the text to
// show and `webAddress` a page to offer (empty when none; only code 1100 names one). False
// for anything else, code 1000 included; the outputs then carry nothing of use.
// `supportEmail` completes the "Please notify " message of the codes that ask for a report.
bool parseServerError(const std::string& reply, const std::string& supportEmail,
                      std::string& message, std::string& webAddress);

// The text with every blank (character 32) removed; everything else stays in order.
std::string removeBlanks(const std::string& text);

} // namespace tonvert
