// tonvert-demo-account HOST USER OUTBOX SETTINGS
//     Makes a ready account on a service whose mails land in OUTBOX (the reference service
//     writes them there): signs USER up, confirms the account with the mailed password and
//     stores both in the client's SETTINGS file, as the account commands would.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "connectionState.h"
#include "credentials.h"
#include "messagePump.h"
#include "netUnit.h"
#include "portableIniFiles.h"
#include "serviceRequests.h"

namespace {

// The password of the newest mail in the outbox.
std::string mailedPassword(const std::string& outbox) {
    std::filesystem::path newest;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(outbox, error))
        if (newest.empty() || entry.path().filename() > newest.filename())
            newest = entry.path();
    std::ifstream in(newest);
    std::stringstream mail;
    mail << in.rdbuf();
    const std::string text = mail.str();
    std::smatch match;
    return std::regex_search(text, match, std::regex("\r\n    ([A-Za-z0-9]{10})\r\n"))
               ? match[1].str()
               : "";
}

} // namespace

int main(int argc, char** argv) {
    using namespace tonvert;
    if (argc != 5) {
        std::fprintf(stderr, "usage: tonvert-demo-account HOST USER OUTBOX SETTINGS\n");
        return 2;
    }
    const std::string host = argv[1], user = argv[2], outbox = argv[3], settings = argv[4];
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    const TransferResult signedUp = net.download({signupRequestUrl(host, user), "", {}});
    if (!signedUp.ok || signedUp.reply != "!VAL signed up") {
        std::fprintf(stderr, "sign-up: %s\n",
                     (signedUp.ok ? signedUp.reply : signedUp.message).c_str());
        return 1;
    }
    const std::string password = mailedPassword(outbox);
    const TransferResult confirmed =
        net.download({serviceRequestUrl(host, user, password, kConfirmCommand), "", {}});
    if (!confirmed.ok || confirmed.reply != "!VAL confirmed") {
        std::fprintf(stderr, "confirm: %s\n",
                     (confirmed.ok ? confirmed.reply : confirmed.message).c_str());
        return 1;
    }
    TPortableIniFile ini(settings);
    writeCredentials(ini, {user, password});
    std::printf("%s is signed up and confirmed; the password is stored in %s\n", user.c_str(),
                settings.c_str());
    return 0;
}
