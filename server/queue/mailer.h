#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "metrics/serviceObserver.h"

namespace tonvert::service {

// How long mail files stay in the outbox.
struct OutboxOptions {
    std::int64_t keepDays = 7; // 0: for ever
    // Seconds since the epoch; the system's clock when not set.
    std::function<std::int64_t()> clock;
};

// Sends the service's mails: by default each is written as a message file into the outbox
// folder (and one line is logged); with an SMTP address it goes out through that server.
// Mails are sent side by side: a slow SMTP server holds up only the request it sends for.
// Files in the outbox older than its days go when the mailer starts, and then as mail is
// sent, at most once an hour.
class Mailer {
public:
    Mailer(std::string outbox, std::string sender, std::string smtpUrl = "",
           OutboxOptions outboxOptions = {}, ServiceObserver& observer = noObserver());
    virtual ~Mailer() = default;

    // True when the mail was written whole or sent.
    virtual bool send(const std::string& to, const std::string& subject, const std::string& body);

private:
    bool deliver(const std::string& to, const std::string& subject, const std::string& body);
    std::string message(const std::string& to, const std::string& subject,
                        const std::string& body) const;
    bool sendSmtp(const std::string& to, const std::string& text);
    // Removes the outbox's old files, unless they were looked for within the last hour.
    void sweepOutbox();

    std::string outbox_;
    std::string sender_;
    std::string smtpUrl_;
    OutboxOptions outboxOptions_;
    ServiceObserver& observer_;
    std::atomic<unsigned> sequence_ = 0;
    std::atomic<std::int64_t> lastSweep_; // seconds since the epoch
};

} // namespace tonvert::service
