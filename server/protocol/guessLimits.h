#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "protocol/passwordChecks.h"

namespace tonvert::service {

// So many guesses at once, then one more each `refill`.
struct GuessRate {
    std::int64_t burst;
    std::chrono::milliseconds refill;
};

// How many failed password checks (wrong passwords, user IDs without an account) a network
// address may cause. Each costs a hash, and the hashing places are the whole service's: a
// guesser out of guesses is refused before any hash.
struct GuessLimitOptions {
    // From one address (an IPv4 address or an IPv6 /64, as sign-ups are counted): room for a
    // few people behind one router, then at most 1200 hashes an hour.
    GuessRate perAddress{10, std::chrono::seconds(3)};
    // At one account from one address: the owner's few slips, then at most 240 an hour.
    GuessRate perAccount{5, std::chrono::seconds(15)};
    // Buckets kept (about a hundred bytes each); beyond, the one used least lately goes. A
    // bucket forgotten is full again: only a flood of addresses forgets one in use.
    std::size_t capacity = 65536;
    // A refused answer is held back so long, when a place is free: it takes no hashing place,
    // and its server thread only for this while.
    std::chrono::milliseconds refusalDelay{250};
    unsigned heldAtOnce = 2; // in the whole service, one per address
    std::function<std::chrono::steady_clock::time_point()> clock; // steady_clock when not set
    std::function<void(std::chrono::milliseconds)> wait;          // sleeps when not set
};

// Token buckets, in memory, per address and per account at an address.
class GuessLimits {
public:
    explicit GuessLimits(GuessLimitOptions options = {});

    // Takes a guess from the address's bucket and, for an account, from the account's bucket
    // at that address; false, taking none, when either is empty.
    bool take(const std::string& address, std::optional<std::int64_t> account = std::nullopt);
    // Gives back what take() took: the password was right, no guess.
    void giveBack(const std::string& address, std::optional<std::int64_t> account = std::nullopt);
    // Holds back the answer to a refused request, when a place is free.
    std::chrono::milliseconds holdRefusal(const std::string& address);

private:
    using Time = std::chrono::steady_clock::time_point;
    // A bucket is the time it is full again; each refill it lies ahead of now is a guess
    // taken.
    struct Bucket {
        std::string key;
        Time full;
    };

    // The key's bucket, made full if there is none; now the one used last.
    Bucket& bucket(const std::string& key, Time now);
    Bucket* find(const std::string& key);

    GuessLimitOptions options_;
    HeldAnswers held_;
    std::mutex mutex_; // guards the buckets; held for a lookup and an insertion, nothing slow
    std::list<Bucket> order_; // the one used last first
    std::unordered_map<std::string, std::list<Bucket>::iterator> buckets_;
};

} // namespace tonvert::service
