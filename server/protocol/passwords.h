#pragma once

#include <cstdint>
#include <string>

namespace tonvert::service {

// What one new password hash costs: Argon2id over so much memory, in so many passes and lanes.
// 46 MiB, one pass, one lane is the first of OWASP's equivalent choices: of those, the one that
// makes each guess of an attacker with a stolen database take the most memory. Each hash
// holds its memory while it runs, so a service checking passwords on N threads at once needs
// N times as much (8 threads: 368 MiB) at worst.
struct HashCost {
    std::uint32_t memoryKib = 46 * 1024;
    std::uint32_t passes = 1;
    std::uint32_t lanes = 1;
};

// A fresh password for a new account or a reset: 10 characters without look-alikes.
std::string generatePassword();

// The stored form of a password: Argon2id with a random salt, in the library's encoding
// ("$argon2id$v=19$m=47104,t=1,p=1$salt$hash"). Slow on purpose.
std::string hashPassword(const std::string& password, const HashCost& cost = {});
// The form passwords were stored in before ("pbkdf2-sha256$rounds$salt$hash"): still
// accepted, and replaced by the current one on the account's next login.
std::string pbkdf2Hash(const std::string& password, int rounds = 20000);
// Whether the password is the one the stored hash was made of, in either form.
bool passwordMatches(const std::string& password, const std::string& stored);
// Whether a stored hash was made in another form or at another cost than new ones are.
bool needsRehash(const std::string& stored, const HashCost& cost);

} // namespace tonvert::service
