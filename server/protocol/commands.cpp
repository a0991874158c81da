#include "protocol/commands.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "asciiText.h"
#include "log/log.h"
#include "midiUnit.h"
#include "protocol/passwords.h"
#include "renderPreset.h"
#include "store/names.h"

namespace tonvert::service {

namespace {

// The codes of the replies, as the client knows them.
enum Code : int {
    kPasswordMissing = 1001,
    kUserIdTooLong = 1002,
    kNotAnAddress = 1003,
    kClosedToNewUsers = 1004,
    kUnavailable = 1005,
    kUnknownCommand = 1007,
    kUserIdTaken = 1010,
    kUnknownUser = 1018,
    kWrongPassword = 1019,
    kUnconfirmed = 1020,
    kNegativeBalance = 1029,
    kInsufficientFunds = 1030,
    kAudioMissing = 1033,
    kAudioNotDeleted = 1035,
    kNoRoot = 1037,
    kNoExtension = 1038,
    kBadExtension = 1039,
    kBadRecord = 1040,
    kUnknownPreset = 1041, // one the client should never send: the user is asked to report it
    kRecordMissing = 1042,
    kRecordLocked = 1043,
    kNameInUse = 1048,
    kTooManyRecords = 1049,
    kTooLarge = 1050,
    kClientTooOld = 1100,
};

Reply text(std::string body) {
    Reply reply;
    reply.body = std::move(body);
    return reply;
}
Reply error(int code) {
    return text("!ERR " + std::to_string(code));
}
Reply value(const std::string& body) {
    return text("!VAL " + body);
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name) {
    const auto found = fields.find(name);
    return found == fields.end() ? "" : found->second;
}

// An address of the form local@domain.tld of printable characters without blanks.
bool isMailAddress(const std::string& text) {
    const auto at = text.find('@');
    if (at == 0 || at == std::string::npos || text.find('@', at + 1) != std::string::npos)
        return false;
    const std::string domain = text.substr(at + 1);
    const auto dot = domain.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 2 > domain.size() ||
        domain.find("..") != std::string::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 32 && byte < 127 && c != '<' && c != '>' && c != '"' && c != '\\';
    });
}

int codeOf(Refusal refusal) {
    switch (refusal) {
    case Refusal::unknownUser:
        return kUnknownUser;
    case Refusal::passwordMissing:
        return kPasswordMissing;
    case Refusal::wrongPassword:
        return kWrongPassword;
    case Refusal::unconfirmed:
        return kUnconfirmed;
    case Refusal::none:
        break;
    }
    return kUnavailable;
}

std::optional<int> nameError(const std::string& name) {
    switch (checkFileName(name)) {
    case NameCheck::noRoot:
        return kNoRoot;
    case NameCheck::noExtension:
        return kNoExtension;
    case NameCheck::badExtension:
        return kBadExtension;
    case NameCheck::good:
        return std::nullopt;
    }
    return kNoRoot;
}

// The reply code of a change that did not go through; `otherwise` for an outcome no code
// of its own answers.
int codeOf(Outcome outcome, int otherwise) {
    switch (outcome) {
    case Outcome::negativeBalance:
        return kNegativeBalance;
    case Outcome::insufficientFunds:
        return kInsufficientFunds;
    case Outcome::passwordChanged:
        return kWrongPassword;
    case Outcome::tooManyRecords:
    case Outcome::tooMuchPlayTime: // "...wait for them to be processed before uploading more"
        return kTooManyRecords;
    case Outcome::nameInUse:
        return kNameInUse;
    default:
        return otherwise;
    }
}

// One of the presets the service renders, written as the client writes it.
bool offersPreset(const std::string& text) {
    const auto& table = render::presetTable();
    return std::any_of(table.begin(), table.end(), [&](const render::RenderPreset& preset) {
        return render::presetText(preset) == text;
    });
}

// A record number as the client sends it: decimal digits only.
std::optional<std::int64_t> recordNumber(const std::string& text) {
    if (text.empty() || text.size() > 18 || !ascii::allDigits(text))
        return std::nullopt;
    return std::stoll(text);
}

// The account as a caller of changes: its password was checked against this hash.
Caller callerOf(const Account& account) {
    return {account.id, account.passwordHash};
}

// The play time of a MIDI file in whole seconds, read as the renderer reads it; none for a
// file the reader refuses, whose render could only fail.
std::optional<std::int64_t> playSeconds(const std::string& bytes) {
    TMidiFile midi;
    std::string message;
    if (!loadMidiBytes(bytes, "upload", false, midi, message))
        return std::nullopt;
    const auto seconds = midiPlayTime(midi, message);
    if (!seconds || !message.empty())
        return std::nullopt;
    // 2^32 ticks at the slowest tempo come to far less than the bound.
    return static_cast<std::int64_t>(std::ceil(std::clamp(*seconds, 0.0, 1e15)));
}

} // namespace

std::string signupAddressKey(const std::string& remoteAddress) {
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, remoteAddress.c_str(), bytes) != 1)
        return remoteAddress;
    static const unsigned char kMappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char text[INET6_ADDRSTRLEN];
    if (std::equal(kMappedV4, kMappedV4 + 12, bytes))
        return inet_ntop(AF_INET, bytes + 12, text, sizeof text);
    std::fill(bytes + 8, bytes + 16, 0);
    return std::string(inet_ntop(AF_INET6, bytes, text, sizeof text)) + "/64";
}

Commands::Commands(Store& store, Mailer& mailer, ServiceConfig config,
                   std::function<void()> onQueued, ServiceObserver& observer)
    : store_(store)
    , mailer_(mailer)
    , config_(config)
    , onQueued_(std::move(onQueued))
    , observer_(observer)
    , credentials_({config_.hashCost, std::chrono::seconds(config_.credentialCacheSeconds),
                    config_.credentialCacheEntries, config_.credentialClock})
    , throttle_(config_.loginDelays)
    , guesses_(config_.guessLimits) {}

Reply unavailableReply() {
    return error(kUnavailable);
}

Reply Commands::handle(const std::map<std::string, std::string>& fields,
                       const std::optional<UploadedFile>& upload, const std::string& host,
                       const std::string& remoteAddress) {
    if (field(fields, "VER") != "1.0") {
        // Two fields before the address: the version spoken here and a word on it.
        return text("!ERR " + std::to_string(kClientTooOld) + "\t1.0\tupgrade\thttp://" + host +
                    "/upgrade.html");
    }
    const std::string command = field(fields, "CMD");
    const std::string userId = field(fields, "UID");
    try {
        if (command == "signup")
            return signup(userId, remoteAddress);

        if (command == "getnewpwd") {
            const auto account = store_.account(userId);
            return account ? newPassword(*account) : error(kUnknownUser);
        }
        const std::string password = field(fields, "PWD");
        // Only confirming may come from an unconfirmed account.
        const Access access = open(userId, password, command == "confirm", remoteAddress);
        if (!access.account)
            return error(codeOf(access.refusal));
        const Account& account = *access.account;
        if (command == "confirm")
            return store_.confirmAccount(callerOf(account)) ? value("confirmed")
                                                            : error(kWrongPassword);

        const std::string file = field(fields, "FNM");
        if (command == "viewfunds")
            return value(money(account.balance));
        if (command == "viewprices")
            return value(
                money(config_.prices.uploadBase) + "\t" + money(config_.prices.uploadPerMb) + "\t" +
                money(config_.prices.downloadBase) + "\t" + money(config_.prices.downloadPerMb));
        if (command == "listmidi")
            return listMidi(account);
        if (command == "delmidi")
            return deleteMidi(account, file);
        if (command == "listaudio")
            return listAudio(account);
        if (command == "delaudio")
            return deleteAudio(account, file);
        if (command == "getaudio")
            return getAudio(account, file);
        if (command == "submitmidi")
            return submitMidi(account, fields, upload);
        return error(kUnknownCommand);
    } catch (const std::exception& failure) {
        observer_.storeError();
        logWarning() << "request failed: " << failure.what();
        return error(kUnavailable);
    }
}

Access Commands::open(const std::string& userId, const std::string& password, bool unconfirmedToo,
                      const std::string& remoteAddress) {
    const std::string address = signupAddressKey(remoteAddress);
    auto account = store_.account(userId);
    if (!account)
        return unknownUser(password, address);
    if (password.empty())
        return {std::nullopt, Refusal::passwordMissing};
    const std::optional<Match> match = this->match(*account, password, address);
    if (!match)
        return refused(address);
    if (*match == Match::none || (*match == Match::pending && !usePending(*account, password))) {
        // Counted before the answer is held back: requests side by side all count.
        const auto failures =
            store_.noteFailedLogin(account->id, config_.loginDelays.forgetAfterSeconds);
        throttle_.hold(account->id, failures);
        return {std::nullopt, Refusal::wrongPassword};
    }
    if (*match == Match::current)
        rehashIfDue(*account, password);
    if (account->failedLogins != 0)
        store_.clearFailedLogins(account->id);
    if (!account->confirmed && !unconfirmedToo)
        return {std::nullopt, Refusal::unconfirmed};
    return {std::move(account), Refusal::none};
}

std::optional<Match> Commands::match(const Account& account, const std::string& password,
                                     const std::string& address) {
    // A password verified lately comes before the guesses: however many guess at the account,
    // from wherever, its owner is answered at once.
    if (credentials_.recalls(account, password))
        return Match::current;
    if (!guesses_.take(address, account.id))
        return std::nullopt;
    const Match match = credentials_.check(account, password);
    if (match != Match::none)
        guesses_.giveBack(address, account.id);
    return match;
}

Access Commands::unknownUser(const std::string& password, const std::string& address) {
    if (!password.empty()) {
        if (!guesses_.take(address))
            return refused(address);
        credentials_.checkUnknown(password);
    }
    return {std::nullopt, Refusal::unknownUser};
}

// An address out of guesses is answered as a wrong password would be, whether the user ID has
// an account or not: it learns nothing more. The account's count of wrong passwords is left
// alone: nothing was checked, and a count raised by guesses that cost nothing would hold back
// the owner's own slips.
Access Commands::refused(const std::string& address) {
    guesses_.holdRefusal(address);
    return {std::nullopt, Refusal::wrongPassword};
}

bool Commands::usePending(Account& account, const std::string& password) {
    const std::string pending = account.pendingPasswordHash;
    if (!store_.usePendingPassword(account.id, pending)) {
        // A request side by side may have used it first.
        const auto now = store_.accountById(account.id);
        if (!now || now->passwordHash != pending)
            return false;
    }
    account.passwordHash = pending;
    account.pendingPasswordHash.clear();
    credentials_.remember(account.id, password, pending);
    return true;
}

void Commands::rehashIfDue(Account& account, const std::string& password) {
    if (!credentials_.needsRehash(account.passwordHash))
        return;
    const std::string rehashed = credentials_.hash(password);
    // Replaced meanwhile (a pending password used): the new hash is not made of this one.
    if (!store_.rehashPassword(callerOf(account), rehashed))
        return;
    account.passwordHash = rehashed;
    credentials_.remember(account.id, password, rehashed);
}

bool Commands::mail(const std::string& to, const std::string& subject, const std::string& body) {
    try {
        return mailer_.send(to, subject, body);
    } catch (const std::exception& failure) {
        logWarning() << "mail to " << to << " failed: " << failure.what();
        return false;
    }
}

Payment Commands::addFunds(const std::string& userId, const std::string& password,
                           std::int64_t cents, const std::string& formToken,
                           const std::string& remoteAddress) {
    const Access access = open(userId, password, false, remoteAddress);
    Payment payment;
    payment.refusal = access.refusal;
    if (!access.account)
        return payment;
    const FundsResult result = store_.addFunds({callerOf(*access.account), cents, formToken});
    if (result.outcome == Outcome::passwordChanged)
        payment.refusal = Refusal::wrongPassword;
    payment.formSpent = result.outcome == Outcome::formSpent;
    payment.balance = result.balance;
    payment.receipt = result.receipt;
    return payment;
}

std::optional<std::string> Commands::notReady() {
    if (!store_.answers())
        return "the store does not answer";
    if (const std::uint64_t room = store_.scratchRoom(); room < config_.scratchRoomBytes)
        return "the scratch folder has " + std::to_string(room >> 20) + " MiB free";
    return std::nullopt;
}

std::string Commands::issueFormToken() {
    return store_.issueFormToken();
}

std::optional<Receipt> Commands::receipt(const std::string& id) {
    return store_.receipt(id);
}

Reply Commands::signup(const std::string& userId, const std::string& remoteAddress) {
    if (config_.closedToNewUsers)
        return error(kClosedToNewUsers);
    if (userId.size() > config_.maxUserIdLength)
        return error(kUserIdTooLong);
    if (!isMailAddress(userId))
        return error(kNotAnAddress);
    // A taken ID is told before the slow hash; the store checks again as it adds the account.
    if (store_.account(userId))
        return error(kUserIdTaken);
    if (!store_.countSignup(signupAddressKey(remoteAddress), config_.signupWindowSeconds,
                            config_.signupsPerAddress))
        return error(kUnavailable);
    // The account is made first: it holds the ID, so that of two sign-ups side by side only
    // one mails a password. Its mail failed, it goes again.
    const std::string password = generatePassword();
    const std::string hash = credentials_.hash(password);
    const auto id = store_.addAccount({userId, hash, config_.startingBalance});
    if (!id)
        return error(kUserIdTaken);
    if (!mail(userId, "Your Tonvert password",
              "Welcome to Tonvert.\n\nYour password is:\n\n    " + password +
                  "\n\nChoose \"Confirm account\" in the Setup menu of Tonvert and enter it "
                  "there to start using the service.\n")) {
        store_.removeNewAccount({*id, hash});
        return error(kUnavailable);
    }
    // The mailed password is the one just hashed: confirming with it needs no second hash.
    credentials_.remember(*id, password, hash);
    return value("signed up");
}

Reply Commands::newPassword(const Account& account) {
    // Within the interval since the last reset the answer is the same, and nothing is made,
    // sent or changed: no mailbox is flooded, and no hash is spent.
    if (account.lastReset != 0 && store_.now() < account.lastReset + config_.resetIntervalSeconds)
        return value("password sent");
    // The new password waits beside the old one, which keeps working until the new one is
    // first used: a reset asked for by someone else locks nobody out. It is stored before the
    // mail goes, so that a mailed password always works, and taken back if the mail fails.
    const std::string password = generatePassword();
    const ResetResult reset =
        store_.startReset({account.id, credentials_.hash(password), config_.resetIntervalSeconds});
    if (reset.outcome == Outcome::tooSoon)
        return value("password sent");
    if (reset.outcome != Outcome::done)
        return error(kUnknownUser);
    if (!mail(account.userId, "Your new Tonvert password",
              "Your new password for Tonvert is:\n\n    " + password +
                  "\n\nChoose \"Enter new password\" in the Setup menu of Tonvert and enter "
                  "it there. Your old password works until you first use the new one.\n")) {
        store_.undoReset(reset.undo);
        return error(kUnavailable);
    }
    return value("password sent");
}

Reply Commands::listMidi(const Account& account) {
    const auto records = store_.midiRecords(account.id);
    std::string body = "!VAL " + std::to_string(records.size()) + "\r\n";
    for (const MidiRecord& record : records)
        body += std::to_string(record.id) + "\t" + record.name + "\t" + record.state + "\t" +
                record.parameters + "\r\n";
    return text(body);
}

Reply Commands::deleteMidi(const Account& account, const std::string& text) {
    const auto number = recordNumber(text);
    if (!number)
        return error(kBadRecord);
    switch (store_.deleteWaitingMidi(callerOf(account), *number)) {
    case Outcome::done:
        return value("deleted");
    case Outcome::locked:
        return error(kRecordLocked);
    case Outcome::passwordChanged:
        return error(kWrongPassword);
    default:
        return error(kRecordMissing);
    }
}

Reply Commands::listAudio(const Account& account) {
    const auto files = store_.audioFiles(account.id);
    std::string body = "!VAL \t" + std::to_string(files.size()) + "\r\n";
    for (const AudioFile& file : files)
        body += file.name + "\t" + std::to_string(file.size) + "\r\n";
    return text(body);
}

Reply Commands::deleteAudio(const Account& account, const std::string& name) {
    if (const auto bad = nameError(name))
        return error(*bad);
    switch (store_.deleteAudio(callerOf(account), name)) {
    case Outcome::done:
        return value("deleted");
    case Outcome::passwordChanged:
        return error(kWrongPassword);
    default:
        return error(kAudioNotDeleted);
    }
}

Reply Commands::getAudio(const Account& account, const std::string& name) {
    if (const auto bad = nameError(name))
        return error(*bad);
    const Fee fee{config_.prices.downloadBase, config_.prices.downloadPerMb};
    DownloadResult download = store_.openDownload({callerOf(account), name, fee});
    if (download.outcome != Outcome::done)
        return error(codeOf(download.outcome, kAudioMissing));
    Reply reply;
    reply.file = std::move(download.body);
    reply.fileSize = download.size;
    reply.contentType = "application/octet-stream";
    if (!download.deliveredBefore)
        reply.delivered = [&store = store_, &observer = observer_, delivery = download.delivery] {
            try {
                store.recordDelivery(delivery);
            } catch (const std::exception& failure) {
                observer.storeError();
                logWarning() << "booking the download of " << delivery.name
                             << " failed: " << failure.what();
            }
        };
    return reply;
}

Reply Commands::submitMidi(const Account& account, const std::map<std::string, std::string>& fields,
                           const std::optional<UploadedFile>& upload) {
    const std::string name = field(fields, "FNM");
    if (const auto bad = nameError(name))
        return error(*bad);
    const std::string extension = ascii::toUpper(extensionOf(name));
    if (extension != "MID" && extension != "RMI")
        return error(kBadExtension);
    // Refused before any fee: a name no request could address again, or no text to list and
    // mail; a preset that could only fail to render.
    if (!fitsUploadName(name))
        return error(kBadRecord);
    if (!upload || upload->content.size() > config_.maxUploadBytes)
        return error(upload ? kTooLarge : kBadRecord);
    const std::string parameters = field(fields, "PRM");
    if (!offersPreset(parameters))
        return error(kUnknownPreset);
    // No MIDI file under a MIDI file's extension (random bytes, an empty file) is refused
    // before any fee, as a wrong extension is. A file that alone plays longer than an account
    // may queue is too large however long the owner waits; the queue's total is the store's.
    const std::optional<std::int64_t> seconds = playSeconds(upload->content);
    if (!seconds)
        return error(kBadExtension);
    if (*seconds > config_.maxQueuedRenderSeconds)
        return error(kTooLarge);

    const SubmitResult submitted =
        store_.submitMidi({callerOf(account), name, parameters, upload->content,
                           Fee{config_.prices.uploadBase, config_.prices.uploadPerMb},
                           config_.maxMidiRecords, *seconds, config_.maxQueuedRenderSeconds});
    if (submitted.outcome != Outcome::done)
        return error(codeOf(submitted.outcome, kUnavailable));
    if (onQueued_)
        onQueued_();
    return value(std::to_string(submitted.record));
}

} // namespace tonvert::service
