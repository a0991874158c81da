#pragma once

#include <atomic>
#include <httplib.h>
#include <memory>
#include <string>
#include <thread>

#include "http/httpFront.h"
#include "http/httpListener.h"
#include "protocol/commands.h"
#include "queue/renderQueue.h"
#include "store/store.h"

namespace tonvert::test {

// The password of the newest mail in an outbox folder, or "" when there is none.
std::string mailedPasswordIn(const std::string& outbox);
// Signs the user up on the service at `host` and confirms the account through the service's
// own requests, with the password from the outbox; gives the password, or "" when a step
// failed.
std::string makeAccountOn(const std::string& host, const std::string& outbox,
                          const std::string& user);

// The whole reference service in the test's own process, over real HTTP on loopback, on a
// port the system picks. Without a renderer uploaded records wait in the queue. Mail goes into
// the data folder's outbox, or to the SMTP server at `smtpUrl`.
class LoopbackService {
public:
    LoopbackService(const std::string& dataFolder, service::Renderer* renderer,
                    service::ServiceConfig config = {}, service::StoreOptions storeOptions = {},
                    const std::string& smtpUrl = "", service::HttpOptions http = {});
    // The service on a store of the test's making.
    LoopbackService(std::unique_ptr<service::Store> store, service::Renderer* renderer,
                    service::ServiceConfig config, const std::string& smtpUrl = "",
                    service::HttpOptions http = {});
    ~LoopbackService();
    LoopbackService(const LoopbackService&) = delete;
    LoopbackService& operator=(const LoopbackService&) = delete;

    // "service.localhost:PORT": names under ".localhost" reach loopback in libcurl.
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    service::Store& store() { return *store_; }
    const service::Commands& commands() const { return *commands_; }
    // For requests from network addresses other than loopback's.
    service::Commands& commands() { return *commands_; }

    // The password of the newest mail in the outbox, or "" when there is none.
    std::string mailedPassword() const;

    // Has the queue's workers look for due jobs now.
    void wakeQueue() { queue_->notify(); }
    // Downloads (getaudio) the server has ended, whole or cut short, since it started.
    int downloadsEnded() const { return downloadsEnded_.load(); }

    // Signs the user up and confirms the account through the service's own requests, with
    // the password from the outbox; gives the password, or "" when a step failed.
    std::string makeAccount(const std::string& user) const;

private:
    service::ServiceConfig config_;
    std::unique_ptr<service::Store> store_;
    std::unique_ptr<service::Mailer> mailer_;
    std::unique_ptr<service::RenderQueue> queue_;
    std::unique_ptr<service::Commands> commands_;
    service::HttpListener server_;
    std::thread thread_;
    int port_ = 0;
    std::string host_;
    std::atomic<int> downloadsEnded_ = 0;
};

} // namespace tonvert::test
