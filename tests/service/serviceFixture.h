#pragma once

#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "loopbackService.h"
#include "netUnit.h"
#include "serviceRequests.h"
#include "store/sqliteStore.h"
#include "testFiles.h"

namespace tonvert::test {

using namespace service;
using namespace std::chrono_literals;

// The whole service in the test's process, over real HTTP on loopback.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void TearDown() override { stop(); }

    void start() {
        StoreOptions options;
        options.clock = [this] { return static_cast<std::int64_t>(std::time(nullptr)) + shift; };
        std::unique_ptr<Store> made = std::make_unique<SqliteStore>(folder.file("data"), options);
        if (wrapStore)
            made = wrapStore(std::move(made));
        loopback =
            std::make_unique<LoopbackService>(std::move(made), renderer, config, smtpUrl, http);
        store = &loopback->store();
        host = loopback->host();
    }
    void stop() { loopback.reset(); }

    std::string get(const std::string& url) {
        const TransferResult result = net.download({url, "", {}});
        EXPECT_TRUE(result.ok) << result.message;
        return result.ok ? result.reply : result.message;
    }
    std::string command(const std::string& user, const std::string& password,
                        const std::string& name, const std::string& file = "") {
        return get(file.empty() ? serviceRequestUrl(host, user, password, name)
                                : serviceRequestUrl(host, user, password, name, file));
    }
    std::string upload(const std::string& user, const std::string& password,
                       const std::string& name, const std::string& content,
                       const std::string& parameters = "MP3,128,44100,C,2") {
        const std::string path = folder.file("upload.mid");
        writeBytes(path, content);
        const TransferResult result =
            net.upload({serviceScriptUrl(host),
                        path,
                        kUploadFilePart,
                        name,
                        uploadFormFields(user, password, parameters, name),
                        {}});
        EXPECT_TRUE(result.ok) << result.message;
        return result.ok ? result.reply : result.message;
    }
    // Downloads an audio file with the client's network layer, and waits until the server has
    // ended the download: a delivery is booked after its last byte went out. One download at
    // a time.
    std::string download(const std::string& user, const std::string& password,
                         const std::string& name) {
        const int ended = loopback->downloadsEnded();
        const TransferResult result =
            net.download({audioDownloadUrl({host, user, password}, name), "", {}});
        EXPECT_TRUE(result.ok) << result.message;
        awaitDownloadsEnded(ended + 1);
        return result.ok ? result.reply : result.message;
    }
    void awaitDownloadsEnded(int count) {
        for (int i = 0; i < 1000 && loopback->downloadsEnded() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(loopback->downloadsEnded(), count);
    }
    // The mails in the outbox that hold the text, waiting a while for the first.
    int mailsWith(const std::string& text, bool wait = true) {
        for (int i = 0;; ++i) {
            int found = 0;
            for (const auto& mail :
                 std::filesystem::directory_iterator(store->folder() + "/outbox"))
                found += readBytes(mail.path().string()).find(text) != std::string::npos;
            if (found > 0 || !wait || i == 3000)
                return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string mailedPassword() { return loopback->mailedPassword(); }
    // The service's clock goes on by so many seconds.
    void later(std::int64_t seconds) { shift += seconds; }
    // Books what takes the user's balance to `cents`, as a correction would.
    void setBalance(const std::string& user, std::int64_t cents) {
        const auto found = store->account(user);
        ASSERT_TRUE(found) << user;
        ASSERT_TRUE(store->book({found->id, cents - found->balance, "correction"}));
    }
    // Signs a user up and confirms the account; gives the password.
    std::string account(const std::string& user) {
        const std::string password = loopback->makeAccount(user);
        EXPECT_EQ(password.size(), 10u) << "no account for " << user;
        return password;
    }

    TempFolder folder;
    ServiceConfig config;
    service::Renderer* renderer = nullptr; // none: records wait in the queue
    std::string smtpUrl;                   // none: mail goes into the outbox
    HttpOptions http;
    // Puts the test's own store around the service's; none: the service's as it is.
    std::function<std::unique_ptr<Store>(std::unique_ptr<Store>)> wrapStore;
    std::atomic<std::int64_t> shift = 0;
    std::unique_ptr<LoopbackService> loopback;
    Store* store = nullptr;
    std::string host;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
};

} // namespace tonvert::test
