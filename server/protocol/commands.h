#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "metrics/serviceObserver.h"
#include "protocol/guessLimits.h"
#include "protocol/passwordChecks.h"
#include "protocol/requestFields.h"
#include "queue/mailer.h"
#include "store/money.h"
#include "store/store.h"

namespace tonvert::service {

struct ServiceConfig {
    bool closedToNewUsers = false;
    std::int64_t startingBalance = 500; // cents
    Prices prices;
    std::size_t maxMidiRecords = 20; // waiting per account
    // The play time of an account's MIDI records in the queue, all together: a small file
    // may play for an hour, and rendering it takes a worker that long.
    std::int64_t maxQueuedRenderSeconds = 60 * 60;
    // A rendered job whose audio file cannot be stored (a full disk) is tried again later;
    // after so many failures its upload fee is refunded.
    RetryPolicy publishRetry;
    std::uint64_t scratchRoomBytes = std::uint64_t{64} << 20; // a worker takes no job with less
    std::size_t maxUploadBytes = 4 << 20;
    std::size_t maxUserIdLength = 100;
    std::int64_t maxFundsPerPayment = 100000;  // cents, on the add-funds page
    HashCost hashCost;                         // of new password hashes
    std::int64_t credentialCacheSeconds = 300; // a verified password is taken on trust so long
    std::size_t credentialCacheEntries = 10000;
    std::function<std::chrono::steady_clock::time_point()> credentialClock; // steady_clock
    std::int64_t resetIntervalSeconds = 600; // at most one reset mail per account in so long
    std::int64_t signupsPerAddress = 10;     // sign-ups from one network address...
    std::int64_t signupWindowSeconds = 3600; // ...in so long
    LoginDelays loginDelays;                 // wrong passwords in a row
    GuessLimitOptions guessLimits;           // failed logins per network address
    // The host and port the service is reached under on the web, as its pages and the
    // too-old reply name it (never the Host header of a request, which the client writes).
    std::string publicHost = "tonvert.localhost:8080";
};

// Why a user ID and password open no account.
enum class Refusal { none, unknownUser, passwordMissing, wrongPassword, unconfirmed };

// The account a user ID and password open, or why they open none.
struct Access {
    std::optional<Account> account;
    Refusal refusal = Refusal::none;
};

// What adding funds came to: the new balance and its receipt, or why nothing was added.
struct Payment {
    Refusal refusal = Refusal::none;
    bool formSpent = false;   // the form's token was taken before, expired or never issued
    std::int64_t balance = 0; // cents
    std::string receipt;      // the ID the payment's outcome is kept under
};

// What goes back: a text, or the bytes of a stored file, opened while the file was sure to
// be there (a delete right after cannot take it from a download under way).
struct Reply {
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    std::shared_ptr<BodySource> file; // when set, the reply is this file's bytes
    std::uint64_t fileSize = 0;
    // Called once the file's last byte went out, when every byte did (the fee is booked then);
    // never for a transfer cut short.
    std::function<void()> delivered;
};

// The reply to any client request while the service cannot reach its store.
Reply unavailableReply();

// The service's protocol: one request's fields (from the query of a GET or the parts of a
// multipart POST) in, the reply text out. Replies begin with "!VAL " or "!ERR " and a code.
class Commands {
public:
    Commands(Store& store, Mailer& mailer, ServiceConfig config,
             std::function<void()> onQueued = {}, ServiceObserver& observer = noObserver());

    // `host` is the host the client reached the service under (for the upgrade page),
    // `remoteAddress` the network address the request came from.
    Reply handle(const std::map<std::string, std::string>& fields,
                 const std::optional<UploadedFile>& upload, const std::string& host,
                 const std::string& remoteAddress);

    // Checks a user ID and password as every command does; a confirmed account is required
    // unless `unconfirmedToo`. Hashes the password unless it was verified lately: slow on
    // purpose, and outside any transaction. The pending password of a reset, used, becomes
    // the password; a hash of an older form or cost is made anew. A wrong password is
    // counted, and its answer held back once the wrong ones in a row are many. Failed checks
    // are limited per `remoteAddress`: past its guesses, only a password verified lately is
    // checked, and anything else is answered as a wrong password, without a hash.
    Access open(const std::string& userId, const std::string& password, bool unconfirmedToo,
                const std::string& remoteAddress);

    // Books `cents` into the ledger of the account the user ID and password open, if it is
    // confirmed and `formToken` was issued and not taken yet (the add-funds page). Of two
    // payments with one token, one books.
    Payment addFunds(const std::string& userId, const std::string& password, std::int64_t cents,
                     const std::string& formToken, const std::string& remoteAddress);
    // A token for one add-funds form, and the receipts that payments leave.
    std::string issueFormToken();
    std::optional<Receipt> receipt(const std::string& id);

    // Why the service cannot take work now (its store does not answer, its scratch folder is
    // full); nullopt when it can.
    std::optional<std::string> notReady();

    const Credentials& credentials() const { return credentials_; }

private:
    // Which of the account's passwords the password is; none when the address is out of
    // guesses (then no hash ran).
    std::optional<Match> match(const Account& account, const std::string& password,
                               const std::string& address);
    Access unknownUser(const std::string& password, const std::string& address);
    Access refused(const std::string& address);
    // Promotes the account's pending password, used with this password; false when it is no
    // longer pending and not the password either.
    bool usePending(Account& account, const std::string& password);
    void rehashIfDue(Account& account, const std::string& password);
    // Sends a mail; false when it could not be written or sent.
    bool mail(const std::string& to, const std::string& subject, const std::string& body);
    Reply signup(const std::string& userId, const std::string& remoteAddress);
    Reply newPassword(const Account& account);
    Reply listMidi(const Account& account);
    Reply deleteMidi(const Account& account, const std::string& record);
    Reply listAudio(const Account& account);
    Reply deleteAudio(const Account& account, const std::string& name);
    Reply getAudio(const Account& account, const std::string& name);
    Reply submitMidi(const Account& account, const std::map<std::string, std::string>& fields,
                     const std::optional<UploadedFile>& upload);

    Store& store_;
    Mailer& mailer_;
    ServiceConfig config_;
    std::function<void()> onQueued_;
    ServiceObserver& observer_;
    Credentials credentials_;
    LoginThrottle throttle_;
    GuessLimits guesses_;
};

// What sign-ups are counted by: an IPv4 address, or the /64 network of an IPv6 address (one
// host is commonly given a whole /64); the text itself when it is neither.
std::string signupAddressKey(const std::string& remoteAddress);

} // namespace tonvert::service
