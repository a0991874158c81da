#include "queue/mailer.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sys/stat.h>

#include "log/log.h"
#include "store/randomHex.h"

namespace tonvert::service {

namespace {

std::string rfc5322Date() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

// Lines of a mail end in CR LF; a bare line feed becomes one.
std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\r\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

struct Upload {
    const std::string* text;
    std::size_t at = 0;
};

std::size_t readMail(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto& upload = *static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, upload.text->size() - upload.at);
    upload.text->copy(buffer, n, upload.at);
    upload.at += n;
    return n;
}

} // namespace

Mailer::Mailer(std::string outbox, std::string sender, std::string smtpUrl,
               OutboxOptions outboxOptions, ServiceObserver& observer)
    : outbox_(std::move(outbox))
    , sender_(std::move(sender))
    , smtpUrl_(std::move(smtpUrl))
    , outboxOptions_(std::move(outboxOptions))
    , observer_(observer) {
    if (!outboxOptions_.clock)
        outboxOptions_.clock = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    lastSweep_ = std::numeric_limits<std::int64_t>::min();
    sweepOutbox();
}

void Mailer::sweepOutbox() {
    constexpr std::int64_t kSweepInterval = 60 * 60;
    const std::int64_t now = outboxOptions_.clock();
    std::int64_t last = lastSweep_.load();
    // One sender sweeps; the others go on at once.
    if (outboxOptions_.keepDays <= 0 || (last > now - kSweepInterval && last <= now) ||
        !lastSweep_.compare_exchange_strong(last, now))
        return;
    const std::int64_t oldest = now - outboxOptions_.keepDays * 24 * 60 * 60;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(outbox_, error)) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_mtime < oldest)
            std::filesystem::remove(entry.path(), error);
    }
}

std::string Mailer::message(const std::string& to, const std::string& subject,
                            const std::string& body) const {
    const std::string domain = sender_.substr(sender_.find('@') + 1);
    return withCrLf("From: Tonvert service <" + sender_ + ">\nTo: <" + to +
                    ">\nSubject: " + subject + "\nDate: " + rfc5322Date() + "\nMessage-ID: <" +
                    randomHex(12) + "@" + domain +
                    ">\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n"
                    "Content-Transfer-Encoding: 8bit\n\n" +
                    body);
}

bool Mailer::send(const std::string& to, const std::string& subject, const std::string& body) {
    const bool sent = deliver(to, subject, body);
    if (sent)
        observer_.mailSent();
    else
        observer_.mailFailed();
    return sent;
}

bool Mailer::deliver(const std::string& to, const std::string& subject, const std::string& body) {
    // A recipient is an address of the service's own checks: no line breaks can reach the
    // headers through it.
    if (to.find_first_of("\r\n<>") != std::string::npos)
        return false;
    const std::string text = message(to, subject, body);
    sweepOutbox();
    if (!smtpUrl_.empty())
        return sendSmtp(to, text);

    // Written whole under a name no reader takes, then renamed: a mail in the outbox is never
    // cut short, and one that could not be written (a full disk) is gone and reported.
    std::error_code error;
    std::filesystem::create_directories(outbox_, error);
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    const std::string name = std::to_string(stamp) + "-" + std::to_string(++sequence_);
    const std::string part = outbox_ + "/." + name + ".part";
    const std::string file = outbox_ + "/" + name + ".eml";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (out)
        std::filesystem::rename(part, file, error);
    if (!out || error) {
        std::filesystem::remove(part, error);
        logWarning() << "mail to " << to << " could not be written: " << subject << " (" << file
                     << ")";
        return false;
    }
    logInfo() << "mail to " << to << ": " << subject << " (" << file << ")";
    return true;
}

bool Mailer::sendSmtp(const std::string& to, const std::string& text) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return false;
    Upload upload{&text};
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + to + ">").c_str());
    const std::string from = "<" + sender_ + ">";
    curl_easy_setopt(curl, CURLOPT_URL, smtpUrl_.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readMail);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    logInfo() << "mail to " << to << " over SMTP: " << curl_easy_strerror(code);
    return code == CURLE_OK;
}

} // namespace tonvert::service
