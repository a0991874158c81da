#include "http/pages.h"

#include "store/money.h"

namespace tonvert::service {

const char* const kStylesheetPath = "/style.css";
const char* const kFormSpentText = "This form was already sent or has expired. Please check your "
                                   "balance and try again.";
const char* const kUnknownReceiptText =
    "This receipt is unknown or has expired. Your balance shows in the Tonvert program.";

namespace {

const char* const kStyle = R"(body {
    font-family: system-ui, sans-serif;
    line-height: 1.5;
    color: #1d1d1f;
    background: #fff;
    max-width: 42em;
    margin: 0 auto;
    padding: 1em;
}
header {
    display: flex;
    flex-wrap: wrap;
    justify-content: space-between;
    align-items: baseline;
    border-bottom: 1px solid #ccc;
}
header .name { font-size: 1.4em; font-weight: bold; color: inherit; text-decoration: none; }
nav a { margin-left: 1em; }
a { color: #0b57a4; }
table { border-collapse: collapse; }
th, td { text-align: left; padding: 0.3em 1em 0.3em 0; border-bottom: 1px solid #ddd; }
td.money { text-align: right; font-variant-numeric: tabular-nums; }
label { display: block; font-weight: bold; }
input { font: inherit; padding: 0.2em; max-width: 100%; }
button { font: inherit; padding: 0.3em 1.2em; }
.message { padding: 0.6em 0.8em; border-radius: 4px; }
.refused { background: #fde8e8; border: 1px solid #c62828; }
.done { background: #e6f4ea; border: 1px solid #2e7d32; }
.note { background: #eef3f8; border: 1px solid #0b57a4; }
.hint, footer { color: #555; font-size: 0.9em; }
footer { border-top: 1px solid #ccc; margin-top: 2em; }
)";

std::string document(const std::string& title, const std::string& main,
                     const std::string& footer = "") {
    return "<!DOCTYPE html>\n"
           "<html lang=\"en\">\n"
           "<head>\n"
           "<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" +
           title + "</title>\n<link rel=\"stylesheet\" href=\"" + kStylesheetPath +
           "\">\n"
           "</head>\n"
           "<body>\n"
           "<header><a class=\"name\" href=\"/\">Tonvert</a>\n"
           "<nav><a href=\"/\">Home</a><a href=\"/addfunds.html\">Add funds</a></nav></header>\n"
           "<main>\n" +
           main + "</main>\n" + (footer.empty() ? "" : "<footer>" + footer + "</footer>\n") +
           "</body>\n</html>\n";
}

} // namespace

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string stylesheet() {
    return kStyle;
}

std::string homePage(const ServiceConfig& config, const std::string& host) {
    const Prices& p = config.prices;
    const auto row = [](const std::string& what, std::int64_t base, std::int64_t perMb,
                        const std::string& id) {
        return "<tr><th scope=\"row\">" + what + "</th><td class=\"money\" id=\"" + id +
               "-base\">" + money(base) + "</td><td class=\"money\" id=\"" + id + "-per-mb\">" +
               money(perMb) + "</td></tr>\n";
    };
    return document(
        "Tonvert",
        "<h1>Tonvert: MIDI files rendered to audio</h1>\n"
        "<p>This is a Tonvert rendering service. Upload MIDI files with the Tonvert program, "
        "choose a format and a quality preset for each, and the service renders them into "
        "audio files in MP3, OGG Vorbis, WMA or WAV. When a file is ready you download it with "
        "the same program.</p>\n"
        "<h2>Prices</h2>\n"
        "<p>Uploads and downloads are paid from your account's balance: each costs a fee per "
        "file plus a rate for every megabyte begun.</p>\n"
        "<table>\n<thead><tr><th scope=\"col\">Transfer</th><th scope=\"col\">Per file</th>"
        "<th scope=\"col\">Per megabyte begun</th></tr></thead>\n<tbody>\n" +
            row("Uploading a MIDI file", p.uploadBase, p.uploadPerMb, "upload") +
            row("Downloading an audio file", p.downloadBase, p.downloadPerMb, "download") +
            "</tbody>\n</table>\n"
            "<p>A new account starts with a balance of <span id=\"starting-balance\">" +
            money(config.startingBalance) +
            "</span>. Sign up in the Tonvert program; the password comes by e-mail.</p>\n"
            "<h2>Your account</h2>\n"
            "<ul>\n<li><a href=\"/addfunds.html\">Add funds</a> to your balance.</li>\n"
            "<li>Is your program too old for this service? See <a href=\"/upgrade.html\">"
            "upgrading Tonvert</a>.</li>\n</ul>\n",
        "<p>Tonvert reference rendering service at " + escapeHtml(host) + "</p>");
}

std::string upgradePage() {
    return document("Upgrade Tonvert - Tonvert",
                    "<h1>Your Tonvert program is too old</h1>\n"
                    "<p>This service speaks version 1.0 of the Tonvert protocol. The program you "
                    "use speaks an older one, so the service cannot take its requests.</p>\n"
                    "<p>Install a newer version of the Tonvert program. This reference service "
                    "has no download of the program: get the new version from where you got "
                    "yours, or build it from its source code.</p>\n"
                    "<p><a href=\"/\">Back to the home page</a></p>\n");
}

std::string refusalText(Refusal refusal, const std::string& userId) {
    switch (refusal) {
    case Refusal::unknownUser:
        return userId.empty() ? "Give your user ID: the e-mail address you signed up with."
                              : "There is no account with the user ID " + userId +
                                    ". Sign up in the Tonvert program first.";
    case Refusal::passwordMissing:
        return "Give your account's password.";
    case Refusal::wrongPassword:
        return "The password is wrong for this user ID. If you lost it, ask for a new one in "
               "the Tonvert program.";
    case Refusal::unconfirmed:
        return "This account is not confirmed yet. Confirm it in the Tonvert program with the "
               "password that was mailed to you, then add funds.";
    case Refusal::none:
        break;
    }
    return "";
}

std::string refusalText(AmountCheck check, std::int64_t maxCents) {
    switch (check) {
    case AmountCheck::notAnAmount:
        return "Give the amount as a number with at most two decimals after a point, such as "
               "2.50.";
    case AmountCheck::notPositive:
        return "Give an amount above 0.00.";
    case AmountCheck::tooLarge:
        return "At most " + money(maxCents) + " can be added at a time.";
    case AmountCheck::good:
        break;
    }
    return "";
}

std::string fundsPage(const FundsForm& form, std::int64_t maxCents) {
    std::string message;
    if (!form.refusal.empty())
        message = "<p id=\"message\" class=\"message refused\" role=\"alert\">" +
                  escapeHtml(form.refusal) + "</p>\n";
    else if (!form.note.empty())
        message = "<p id=\"message\" class=\"message note\" role=\"status\">" +
                  escapeHtml(form.note) + "</p>\n";
    else if (!form.balance.empty())
        message = "<p id=\"message\" class=\"message done\" role=\"status\"><span "
                  "id=\"added\">" +
                  form.added + "</span> added to " + escapeHtml(form.userId) +
                  ". The balance is now <strong id=\"balance\">" + form.balance +
                  "</strong>.</p>\n";
    return document(
        "Add funds - Tonvert",
        "<h1>Add funds</h1>\n" + message +
            "<form method=\"post\" action=\"/addfunds.html\">\n"
            "<input type=\"hidden\" name=\"token\" value=\"" +
            escapeHtml(form.token) +
            "\">\n"
            "<p><label for=\"uid\">User ID (your e-mail address)</label>\n"
            "<input id=\"uid\" name=\"uid\" type=\"text\" inputmode=\"email\" "
            "autocomplete=\"username\" size=\"40\" value=\"" +
            escapeHtml(form.userId) +
            "\"></p>\n"
            "<p><label for=\"password\">Password</label>\n"
            "<input id=\"password\" name=\"password\" type=\"password\" "
            "autocomplete=\"current-password\" size=\"20\"></p>\n"
            "<p><label for=\"amount\">Amount</label>\n"
            "<input id=\"amount\" name=\"amount\" type=\"text\" inputmode=\"decimal\" "
            "size=\"10\" placeholder=\"2.50\" value=\"" +
            escapeHtml(form.amount) +
            "\">\n<span class=\"hint\">with at most two decimals; at most " + money(maxCents) +
            " at a time</span></p>\n"
            "<p><button type=\"submit\">Add funds</button></p>\n"
            "</form>\n"
            "<p class=\"hint\">This page stands in for a payment provider: the amount is added "
            "to your balance at once and nothing is charged.</p>\n");
}

} // namespace tonvert::service
