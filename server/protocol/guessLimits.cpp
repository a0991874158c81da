#include "protocol/guessLimits.h"

#include <algorithm>

namespace tonvert::service {

namespace {

using Time = std::chrono::steady_clock::time_point;

std::string accountKey(const std::string& address, std::int64_t account) {
    return address + "#" + std::to_string(account);
}

// A bucket full at `full` after one more guess: then it must not lie a whole burst ahead.
Time afterGuess(Time full, const GuessRate& rate, Time now) {
    return std::max(full, now) + rate.refill;
}
bool hasGuess(Time full, const GuessRate& rate, Time now) {
    return afterGuess(full, rate, now) <= now + rate.burst * rate.refill;
}

} // namespace

GuessLimits::GuessLimits(GuessLimitOptions options)
    : options_(std::move(options))
    , held_(options_.heldAtOnce, options_.wait) {
    if (!options_.clock)
        options_.clock = [] { return std::chrono::steady_clock::now(); };
    // An address's bucket and its account's are in use together: neither may push the other
    // out.
    options_.capacity = std::max<std::size_t>(options_.capacity, 2);
}

bool GuessLimits::take(const std::string& address, std::optional<std::int64_t> account) {
    const std::string byAccountKey = account ? accountKey(address, *account) : std::string();
    const Time now = options_.clock();
    std::lock_guard lock(mutex_);
    Bucket& byAddress = bucket(address, now);
    Bucket* byAccount = account ? &bucket(byAccountKey, now) : nullptr;
    if (!hasGuess(byAddress.full, options_.perAddress, now) ||
        (byAccount && !hasGuess(byAccount->full, options_.perAccount, now)))
        return false;
    byAddress.full = afterGuess(byAddress.full, options_.perAddress, now);
    if (byAccount)
        byAccount->full = afterGuess(byAccount->full, options_.perAccount, now);
    return true;
}

void GuessLimits::giveBack(const std::string& address, std::optional<std::int64_t> account) {
    const std::string byAccountKey = account ? accountKey(address, *account) : std::string();
    std::lock_guard lock(mutex_);
    // A bucket forgotten meanwhile is full already.
    if (Bucket* found = find(address))
        found->full -= options_.perAddress.refill;
    if (Bucket* found = account ? find(byAccountKey) : nullptr)
        found->full -= options_.perAccount.refill;
}

std::chrono::milliseconds GuessLimits::holdRefusal(const std::string& address) {
    return held_.hold(address, options_.refusalDelay);
}

GuessLimits::Bucket& GuessLimits::bucket(const std::string& key, Time now) {
    if (const auto found = buckets_.find(key); found != buckets_.end()) {
        order_.splice(order_.begin(), order_, found->second);
        return *found->second;
    }
    if (buckets_.size() >= options_.capacity) {
        buckets_.erase(order_.back().key);
        order_.pop_back();
    }
    order_.push_front({key, now});
    buckets_.emplace(key, order_.begin());
    return order_.front();
}

GuessLimits::Bucket* GuessLimits::find(const std::string& key) {
    const auto found = buckets_.find(key);
    return found == buckets_.end() ? nullptr : &*found->second;
}

} // namespace tonvert::service
