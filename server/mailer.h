#pragma once

#include <atomic>
#include <string>

namespace tonvert::service {

// Sends the service's mails: by default each is written as a message file into the outbox
// folder (and one line is logged); with an SMTP address it goes out through that server.
// Mails are sent side by side: a slow SMTP server holds up only the request it sends for.
class Mailer {
public:
    Mailer(std::string outbox, std::string sender, std::string smtpUrl = "");
    virtual ~Mailer() = default;

    // True when the mail was written whole or sent.
    virtual bool send(const std::string& to, const std::string& subject, const std::string& body);

private:
    std::string message(const std::string& to, const std::string& subject,
                        const std::string& body) const;
    bool sendSmtp(const std::string& to, const std::string& text);

    std::string outbox_;
    std::string sender_;
    std::string smtpUrl_;
    std::atomic<unsigned> sequence_ = 0;
};

} // namespace tonvert::service
