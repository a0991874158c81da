#include "loopbackService.h"

#include <chrono>
#include <filesystem>
#include <regex>

#include "netUnit.h"
#include "serviceRequests.h"
#include "store/sqliteStore.h"
#include "testFiles.h"

namespace tonvert::test {

LoopbackService::LoopbackService(const std::string& dataFolder, service::Renderer* renderer,
                                 service::ServiceConfig config, service::StoreOptions storeOptions,
                                 const std::string& smtpUrl, service::HttpOptions http)
    : LoopbackService(std::make_unique<service::SqliteStore>(dataFolder, std::move(storeOptions)),
                      renderer, std::move(config), smtpUrl, std::move(http)) {}

LoopbackService::LoopbackService(std::unique_ptr<service::Store> store, service::Renderer* renderer,
                                 service::ServiceConfig config, const std::string& smtpUrl,
                                 service::HttpOptions http)
    : config_(std::move(config))
    , store_(std::move(store))
    , server_(std::move(http)) {
    mailer_ = std::make_unique<service::Mailer>(store_->folder() + "/outbox",
                                                "noreply@test.localhost", smtpUrl);
    const service::Prices& prices = config_.prices;
    queue_ = std::make_unique<service::RenderQueue>(
        *store_, *mailer_, renderer,
        service::QueueOptions{1, config_.publishRetry,
                              service::Fee{prices.uploadBase, prices.uploadPerMb},
                              std::chrono::milliseconds(5000), config_.scratchRoomBytes});
    // Bound first: the port is part of the host the service names in its replies.
    port_ = server_.bind("127.0.0.1", 0);
    host_ = "service.localhost:" + std::to_string(port_);
    config_.publicHost = host_;
    commands_ = std::make_unique<service::Commands>(*store_, *mailer_, config_,
                                                    [this] { queue_->notify(); });
    service::installRoutes(server_.routes(), *commands_, config_);
    // Called once a response's last byte is written, or its writing failed. Only downloads
    // are counted: the logger of a reply the client has already read may run later.
    server_.routes().set_logger([this](const httplib::Request& request, const httplib::Response&) {
        if (request.get_param_value("CMD") == "getaudio")
            ++downloadsEnded_;
    });
    thread_ = std::thread([this] { server_.run(); });
    while (!server_.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackService::~LoopbackService() {
    server_.stop();
    thread_.join();
    commands_.reset();
    queue_.reset();
    store_.reset();
}

std::string LoopbackService::mailedPassword() const {
    return mailedPasswordIn(store_->folder() + "/outbox");
}

std::string LoopbackService::makeAccount(const std::string& user) const {
    return makeAccountOn(host_, store_->folder() + "/outbox", user);
}

std::string mailedPasswordIn(const std::string& outbox) {
    std::filesystem::path newest;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(outbox, error))
        if (newest.empty() || entry.path().filename() > newest.filename())
            newest = entry.path();
    if (newest.empty())
        return "";
    std::smatch match;
    const std::string mail = readBytes(newest.string());
    return std::regex_search(mail, match, std::regex("\r\n    ([A-Za-z0-9]{10})\r\n"))
               ? match[1].str()
               : "";
}

std::string makeAccountOn(const std::string& host, const std::string& outbox,
                          const std::string& user) {
    PermanentConnection connection;
    WaitingPump pump;
    TNet net(connection, pump);
    if (net.download({signupRequestUrl(host, user), "", {}}).reply != "!VAL signed up")
        return "";
    const std::string password = mailedPasswordIn(outbox);
    const TransferResult confirmed =
        net.download({serviceRequestUrl(host, user, password, kConfirmCommand), "", {}});
    return confirmed.reply == "!VAL confirmed" ? password : "";
}

} // namespace tonvert::test
