#include "serverSupportUnit.h"

#include "asciiText.h"
#include "urlsUnit.h"

#include <charconv>
#include <utility>

namespace tonvert {

namespace {

constexpr int kNotANumber = -1;
constexpr int kNoError = 1000;
constexpr int kTooOld = 1100;

const char* const kTooOldText = "Client application too old. Please upgrade.";

// Blanks and control characters, the delete character among them, end no reply's text.
bool isBlankControlOrDelete(char c) {
    return ascii::isBlankOrControl(c) || c == '\x7F';
}

// The code field as a number: an optional sign and decimal digits, nothing else, within the
// range of an int; kNotANumber for anything else.
int codeNumber(const std::string& field) {
    std::size_t start = (!field.empty() && field.front() == '+') ? 1 : 0;
    if (start == field.size())
        return kNotANumber;
    int value = 0;
    const char* first = field.data() + start;
    const char* last = field.data() + field.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || (start == 1 && *first == '-'))
        return kNotANumber;
    return value;
}

// The message of a code that needs no further field; nullptr for the codes handled apart.
const char* fixedMessage(int code) {
    switch (code) {
    case kNotANumber:
        return "Server error.";
    case 1001:
        return "Your password is missing.";
    case 1002:
        return "Your user ID (i.e. your e-mail address) is too long.";
    case 1003:
        return "Your user ID does not seem to be a valid e-mail address. Please use another "
               "address.";
    case 1004:
        return "Sorry, the service is currently closed to new users. Try again in a few days.";
    case 1005:
        return "The service is temporarily unavailable. Please try again later.";
    case 1006:
        return "The service has been discontinued.";
    case 1009:
        return "Service not available in your e-mail domain. Please use an e-mail address from "
               "a different provider.";
    case 1010:
        return "This user ID is already in use.";
    case 1018:
        return "Unknown user ID.";
    case 1019:
        return "Wrong password.";
    case 1020:
        return "Unconfirmed account. Please select \"Confirm account\" in the Setup menu to "
               "confirm your account.";
    case 1029:
        return "Negative account balance! Please add funds to your account.";
    case 1030:
        return "Insufficient funds to complete this operation. Please add funds to your account.";
    case 1033:
        return "Can't open audio file on server. It may no longer be there. Refresh online audio "
               "file list to check.";
    case 1034:
        return "Audio file locked by another process. Please wait for all operations to "
               "terminate.";
    case 1035:
        return "Can't delete audio file from server. It may already have been deleted. Refresh "
               "online audio file list to check.";
    case 1037:
        return "Bad filename (root missing).";
    case 1038:
        return "Bad filename (extension missing).";
    case 1039:
        return "Bad filename extension.";
    case 1040:
        return "Bad MIDI record name.";
    case 1042:
        return "Can't open MIDI record on server. It may already have been moved to the "
               "processing queue or deleted. Refresh online MIDI file list to check.";
    case 1043:
        return "MIDI record locked by another process. Please wait for all operations to "
               "terminate.";
    case 1044:
        return "Can't delete MIDI record from server. It may already have been moved to the "
               "processing queue or deleted. Refresh online MIDI file list to check.";
    case 1045:
        return "Can't open MIDI file on server. It may already have been moved to the "
               "processing queue or deleted. Refresh online MIDI file list to check.";
    case 1046:
        return "MIDI file locked by another process. Please wait for all operations to "
               "terminate.";
    case 1047:
        return "Can't delete MIDI file from server. It may already have been moved to the "
               "processing queue or deleted. Refresh online MIDI file list to check.";
    case 1048:
        return "This filename is already in use. MIDI files in your account can't be "
               "overwritten (but you can delete them).";
    case 1049:
        return "Too many MIDI files in account. Please delete a few or wait for them to be "
               "processed before uploading more.";
    case 1050:
        return "The file you're trying to upload is too large. Please reduce its size.";
    default:
        return nullptr;
    }
}

// Codes the service uses for its own faults; the user is asked to report them.
bool isReportedCode(int code) {
    return code == 1007 || code == 1008 || (code >= 1011 && code <= 1017) ||
           (code >= 1021 && code <= 1028) || code == 1031 || code == 1032 || code == 1036 ||
           code == 1041 || (code >= 1051 && code <= 1061);
}

// The upgrade page of a 1100 reply: the fourth field when there are that many (trimmed),
// otherwise whatever follows the last tab, without the line break and blanks that end the
// reply (what leads it stays). Refused unless splitUrl takes it and it holds no blank or
// control character; it is handed out with its scheme spelt out, so that opening it always
// means a web page and never a local program or file.
std::string upgradeAddress(std::string fields) {
    int skipped = 0;
    for (; skipped < 2; ++skipped) {
        const std::size_t tab = fields.find('\t');
        if (tab == std::string::npos)
            break;
        fields.erase(0, tab + 1);
    }
    fields = std::string(skipped == 2 ? ascii::trimmed(fields, isBlankControlOrDelete)
                                      : ascii::trimmedRight(fields, isBlankControlOrDelete));

    std::string scheme, host, port, path;
    if (!splitUrl(fields, scheme, host, port, path))
        return {};
    for (const char c : path) {
        if (isBlankControlOrDelete(c))
            return {};
    }
    return scheme + host + port + path;
}

} // namespace

bool parseServerError(const std::string& reply, const std::string& supportEmail,
                      std::string& message, std::string& webAddress) {
    static const std::string kMarker = "!ERR ";
    const std::string text(ascii::trimmedLeft(reply, isBlankControlOrDelete));
    if (text.compare(0, kMarker.size(), kMarker) != 0)
        return false;

    const std::string rest = text.substr(kMarker.size());
    const std::size_t tab = rest.find('\t');
    const int code = codeNumber(rest.substr(0, tab));

    message = "Server error.";
    webAddress.clear();

    if (code == kNoError)
        return false;
    if (const char* fixed = fixedMessage(code)) {
        message = fixed;
    } else if (isReportedCode(code)) {
        message = "Server error " + std::to_string(code) + ". Please notify " + supportEmail;
    } else if (code == kTooOld) {
        message = kTooOldText;
        webAddress =
            upgradeAddress(tab == std::string::npos ? std::string() : rest.substr(tab + 1));
        if (!webAddress.empty())
            message += " Go to\n\n" + webAddress + "\n\nnow?";
    } else {
        message = "Unknown server error.";
    }
    return true;
}

std::string removeBlanks(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c != ' ')
            result += c;
    }
    return result;
}

} // namespace tonvert
