#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "protocol/commands.h"
#include "protocol/requestFields.h"

namespace tonvert::service {

// The pages a browser opens on the service, as whole HTML documents, and the one stylesheet
// they share. Every text that came from outside is escaped here.

std::string escapeHtml(const std::string& text);

extern const char* const kStylesheetPath;
std::string stylesheet();

std::string homePage(const ServiceConfig& config, const std::string& host);
std::string upgradePage();

// What the add-funds page shows: the form, and above it what became of the last payment.
struct FundsForm {
    std::string token;   // the one-time token the form is sent with
    std::string userId;  // kept in the form
    std::string amount;  // kept in the form after a refusal
    std::string refusal; // a plain text; empty when nothing was refused
    std::string note;    // a plain text that is no refusal, such as on an unknown receipt
    std::string added;   // after a payment: the amount, as money
    std::string balance; // after a payment: the new balance, as money
};
std::string fundsPage(const FundsForm& form, std::int64_t maxCents);

// Why a payment was refused, in words for the page.
std::string refusalText(Refusal refusal, const std::string& userId);
std::string refusalText(AmountCheck check, std::int64_t maxCents);
extern const char* const kFormSpentText;
extern const char* const kUnknownReceiptText;

} // namespace tonvert::service
