#include "protocol/passwordChecks.h"

#include <algorithm>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <thread>

#include "store/randomHex.h"

namespace tonvert::service {

class Credentials::HashTurn {
public:
    explicit HashTurn(std::counting_semaphore<256>& places)
        : places_(places) {
        places_.acquire();
    }
    ~HashTurn() { places_.release(); }
    HashTurn(const HashTurn&) = delete;
    HashTurn& operator=(const HashTurn&) = delete;

private:
    std::counting_semaphore<256>& places_;
};

namespace {

std::ptrdiff_t hashPlaces(unsigned asked) {
    const unsigned places = asked != 0 ? asked : std::max(1u, std::thread::hardware_concurrency());
    return std::min<std::ptrdiff_t>(places, 256);
}

} // namespace

Credentials::Credentials(CredentialOptions options)
    : options_(std::move(options))
    , hashPlaces_(
          std::make_unique<std::counting_semaphore<256>>(hashPlaces(options_.hashesAtOnce))) {
    if (!options_.clock)
        options_.clock = [] { return std::chrono::steady_clock::now(); };
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1)
        throw std::runtime_error("no random bytes");
    unknownHash_ = hash(randomHex(16));
}

Credentials::Tag Credentials::tag(std::int64_t account, const std::string& password) const {
    std::string message(sizeof account, '\0');
    for (std::size_t i = 0; i < sizeof account; ++i)
        message[i] = static_cast<char>((static_cast<std::uint64_t>(account) >> (8 * i)) & 0xff);
    message += password;
    Tag tag{};
    unsigned size = 0;
    if (HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
             reinterpret_cast<const unsigned char*>(message.data()), message.size(), tag.data(),
             &size) == nullptr ||
        size != tag.size())
        throw std::runtime_error("no keyed hash");
    OPENSSL_cleanse(message.data(), message.size());
    return tag;
}

bool Credentials::cached(const Account& account, const Tag& tag) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(account.id);
    if (found == entries_.end())
        return false;
    const Entry& entry = found->second;
    if (entry.expires <= options_.clock() || entry.storedHash != account.passwordHash) {
        entries_.erase(found);
        return false;
    }
    return CRYPTO_memcmp(entry.tag.data(), tag.data(), tag.size()) == 0;
}

bool Credentials::verify(const std::string& password, const std::string& stored) {
    ++hashesVerified_;
    const HashTurn turn(*hashPlaces_);
    return passwordMatches(password, stored);
}

bool Credentials::recalls(const Account& account, const std::string& password) {
    if (!cached(account, tag(account.id, password)))
        return false;
    ++cacheHits_;
    return true;
}

Match Credentials::check(const Account& account, const std::string& password) {
    if (recalls(account, password))
        return Match::current;
    if (verify(password, account.passwordHash)) {
        remember(account.id, password, account.passwordHash);
        return Match::current;
    }
    if (!account.pendingPasswordHash.empty() && verify(password, account.pendingPasswordHash))
        return Match::pending;
    return Match::none;
}

void Credentials::checkUnknown(const std::string& password) {
    ++unknownVerified_;
    verify(password, unknownHash_);
}

void Credentials::remember(std::int64_t account, const std::string& password,
                           const std::string& storedHash) {
    Entry entry{tag(account, password), storedHash, options_.clock() + options_.cacheLifetime};
    std::lock_guard lock(mutex_);
    if (entries_.size() >= options_.cacheCapacity && !entries_.count(account)) {
        const auto now = options_.clock();
        std::erase_if(entries_, [now](const auto& item) { return item.second.expires <= now; });
        // Still full of live entries: one goes, and its account hashes once more.
        if (entries_.size() >= options_.cacheCapacity)
            entries_.erase(entries_.begin());
    }
    entries_[account] = std::move(entry);
}

void Credentials::forget(std::int64_t account) {
    std::lock_guard lock(mutex_);
    entries_.erase(account);
}

std::string Credentials::hash(const std::string& password) const {
    const HashTurn turn(*hashPlaces_);
    return hashPassword(password, options_.cost);
}

bool Credentials::needsRehash(const std::string& stored) const {
    return service::needsRehash(stored, options_.cost);
}

std::chrono::milliseconds delayAfter(std::int64_t failures, const LoginDelays& delays) {
    const std::int64_t doublings = failures - delays.freeFailures - 1;
    if (doublings < 0)
        return std::chrono::milliseconds(0);
    if (doublings >= 30)
        return delays.longest;
    return std::min(delays.first * (std::int64_t(1) << doublings), delays.longest);
}

HeldAnswers::HeldAnswers(unsigned atOnce, std::function<void(std::chrono::milliseconds)> wait)
    : atOnce_(atOnce)
    , wait_(std::move(wait)) {
    if (!wait_)
        wait_ = [](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); };
}

std::chrono::milliseconds HeldAnswers::hold(const std::string& key,
                                            std::chrono::milliseconds time) {
    if (time.count() <= 0)
        return std::chrono::milliseconds(0);
    {
        std::lock_guard lock(mutex_);
        if (holding_.size() >= atOnce_ || !holding_.insert(key).second)
            return std::chrono::milliseconds(0);
    }
    struct Release {
        HeldAnswers& held;
        const std::string& key;
        ~Release() {
            std::lock_guard lock(held.mutex_);
            held.holding_.erase(key);
        }
    } release{*this, key};
    wait_(time);
    return time;
}

LoginThrottle::LoginThrottle(LoginDelays delays)
    : delays_(std::move(delays))
    , held_(delays_.heldAtOnce, delays_.wait) {}

std::chrono::milliseconds LoginThrottle::hold(std::int64_t account, std::int64_t failures) {
    return held_.hold(std::to_string(account), delayAfter(failures, delays_));
}

} // namespace tonvert::service
