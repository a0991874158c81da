#pragma once

#include <string>

namespace tonvert::service {

// A fresh password for a new account or a reset: 10 characters without look-alikes.
std::string generatePassword();

// The stored form of a password: a salted, slow hash ("pbkdf2-sha256$rounds$salt$hash").
std::string hashPassword(const std::string& password, int rounds = 20000);
bool passwordMatches(const std::string& password, const std::string& stored);

// Random bytes as lower-case hexadecimal, for file names and message identifiers.
std::string randomHex(std::size_t bytes);

} // namespace tonvert::service
