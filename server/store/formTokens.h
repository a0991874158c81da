#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tonvert::service {

// The add-funds page's form tokens cost nothing to issue: a token is its time of issue and a
// random part, signed with a key of the store's (HMAC-SHA-256), and nothing is written until
// it is used. So no number of page views can push out another user's open form.
std::string signedFormToken(const std::string& key, std::int64_t issued);
// When the token was issued; nullopt for one the key did not sign (or no token at all).
std::optional<std::int64_t> formTokenIssued(const std::string& key, const std::string& token);

} // namespace tonvert::service
