#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "loopbackService.h"
#include "netUnit.h"
#include "serviceRequests.h"
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
        loopback = std::make_unique<LoopbackService>(folder.file("data"), renderer, config);
        store = &loopback->store();
        host = loopback->host();
    }
    void stop() { loopback.reset(); }

    std::string get(const std::string& url) {
        std::string reply;
        EXPECT_TRUE(net.get(url, "", "", "Tonvert", 2048, false, false, reply, "")) << reply;
        return reply;
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
        std::string reply;
        EXPECT_TRUE(net.post(serviceScriptUrl(host), "", "", "Tonvert", path, "BIN", name,
                             uploadFormFields(user, password, parameters, name), 2048, false, false,
                             reply));
        return reply;
    }
    std::string mailedPassword() { return loopback->mailedPassword(); }
    // Signs a user up and confirms the account; gives the password.
    std::string account(const std::string& user) {
        const std::string password = loopback->makeAccount(user);
        EXPECT_EQ(password.size(), 10u) << "no account for " << user;
        return password;
    }

    TempFolder folder;
    ServiceConfig config;
    service::Renderer* renderer = nullptr; // none: records wait in the queue
    std::unique_ptr<LoopbackService> loopback;
    Store* store = nullptr;
    std::string host;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
};

} // namespace tonvert::test
