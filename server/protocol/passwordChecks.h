#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <set>
#include <string>
#include <unordered_map>

#include "protocol/passwords.h"
#include "store/store.h"

namespace tonvert::service {

// Which of an account's passwords a password is.
enum class Match { none, current, pending };

struct CredentialOptions {
    HashCost cost;
    // A password verified against an account's stored hash is taken on trust for so long,
    // while that hash stays the stored one, so that a session's repeated requests cost
    // microseconds rather than a hash each.
    std::chrono::seconds cacheLifetime{300};
    std::size_t cacheCapacity = 10000;                            // accounts
    std::function<std::chrono::steady_clock::time_point()> clock; // steady_clock when not set
    // Hashes made or verified at once; the rest wait their turn. Each takes a core and tens
    // of megabytes: more at once than there are cores only thrash, and a burst of sign-ups
    // would take memory by the gigabyte. 0: one per core.
    unsigned hashesAtOnce = 0;
};

// Checks passwords against accounts' stored hashes. Verified passwords are remembered per
// account by a keyed hash (HMAC-SHA-256 under a random key of this process, never written
// anywhere), never by the password itself. Every hash runs outside the cache's lock.
class Credentials {
public:
    explicit Credentials(CredentialOptions options = {});

    // Whether the password was verified lately against the account's stored hash: no hash.
    bool recalls(const Account& account, const std::string& password);
    // Slow unless the password was verified lately against the account's stored hash.
    Match check(const Account& account, const std::string& password);
    // For a user ID without an account: verifies against a hash of no one's password, so
    // that the answer costs what a wrong password costs.
    void checkUnknown(const std::string& password);
    // The account's stored hash is now this one, made of this password.
    void remember(std::int64_t account, const std::string& password, const std::string& storedHash);
    void forget(std::int64_t account);

    // A new hash at the current cost, and whether a stored one is of another form or cost.
    std::string hash(const std::string& password) const;
    bool needsRehash(const std::string& stored) const;

    // What the checks took: hashes verified (the no one's among them), cache hits.
    std::uint64_t hashesVerified() const { return hashesVerified_; }
    std::uint64_t unknownVerified() const { return unknownVerified_; }
    std::uint64_t cacheHits() const { return cacheHits_; }

private:
    using Tag = std::array<unsigned char, 32>;
    struct Entry {
        Tag tag{};
        std::string storedHash;
        std::chrono::steady_clock::time_point expires;
    };

    Tag tag(std::int64_t account, const std::string& password) const;
    bool cached(const Account& account, const Tag& tag);
    bool verify(const std::string& password, const std::string& stored);
    // Holds one of the hashing places for a hash's time.
    class HashTurn;

    CredentialOptions options_;
    Tag key_{};
    std::string unknownHash_;
    std::unique_ptr<std::counting_semaphore<256>> hashPlaces_;
    std::mutex mutex_; // guards entries_ only; held for a lookup or an insertion, never a hash
    std::unordered_map<std::int64_t, Entry> entries_;
    std::atomic<std::uint64_t> hashesVerified_ = 0, unknownVerified_ = 0, cacheHits_ = 0;
};

// How wrong passwords in a row are slowed down. The first few are answered at once; after
// them each answer is held back, twice as long as the one before, up to the longest.
struct LoginDelays {
    std::int64_t freeFailures = 3;
    std::chrono::milliseconds first{1000};
    std::chrono::milliseconds longest{16000};
    std::int64_t forgetAfterSeconds = 3600; // a count quiet for so long starts again
    // A held answer keeps its server thread: only so many are held at once in the whole
    // service, and one per account; any more are answered at once.
    unsigned heldAtOnce = 2;
    std::function<void(std::chrono::milliseconds)> wait; // sleeps when not set
};

// The time the answer to the n-th wrong password in a row is held back.
std::chrono::milliseconds delayAfter(std::int64_t failures, const LoginDelays& delays);

// Answers held back a while, each keeping its server thread: only so many are held at once in
// the whole service, and one per key; any more are answered at once.
class HeldAnswers {
public:
    // `wait` sleeps when not set.
    HeldAnswers(unsigned atOnce, std::function<void(std::chrono::milliseconds)> wait);

    // Holds back an answer so long, when a place is free; gives the time it was held.
    std::chrono::milliseconds hold(const std::string& key, std::chrono::milliseconds time);

private:
    unsigned atOnce_;
    std::function<void(std::chrono::milliseconds)> wait_;
    std::mutex mutex_; // guards holding_ only, never held while waiting
    std::set<std::string> holding_;
};

class LoginThrottle {
public:
    explicit LoginThrottle(LoginDelays delays);

    // Holds back the answer to the account's n-th wrong password in a row, when a place is
    // free; gives the time it was held.
    std::chrono::milliseconds hold(std::int64_t account, std::int64_t failures);
    const LoginDelays& delays() const { return delays_; }

private:
    LoginDelays delays_;
    HeldAnswers held_;
};

} // namespace tonvert::service
