#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <regex>
#include <thread>

#include "commands.h"
#include "httpFront.h"
#include "netUnit.h"
#include "renderQueue.h"
#include "serviceRequests.h"
#include "store.h"
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
        store = std::make_unique<Store>(folder.file("data"));
        mailer = std::make_unique<Mailer>(store->folder() + "/outbox", "noreply@test.localhost");
        queue = std::make_unique<RenderQueue>(*store, *mailer, renderer, 1);
        commands = std::make_unique<Commands>(*store, *mailer, config, [this] { queue->notify(); });
        server = std::make_unique<httplib::Server>();
        installRoutes(*server, *commands, *store, config);
        port = server->bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server->listen_after_bind(); });
        while (!server->is_running())
            std::this_thread::sleep_for(1ms);
        host = "service.localhost:" + std::to_string(port);
    }
    void stop() {
        server->stop();
        thread.join();
        commands.reset();
        queue.reset();
        store.reset();
    }

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
    // The password of the newest mail in the outbox.
    std::string mailedPassword() {
        std::filesystem::path newest;
        for (const auto& entry : std::filesystem::directory_iterator(store->folder() + "/outbox"))
            if (newest.empty() || entry.path().filename() > newest.filename())
                newest = entry.path();
        std::smatch match;
        const std::string mail = readBytes(newest.string());
        return std::regex_search(mail, match, std::regex("\r\n    ([A-Za-z0-9]{10})\r\n"))
                   ? match[1].str()
                   : "";
    }
    // Signs a user up and confirms the account; gives the password.
    std::string account(const std::string& user) {
        EXPECT_EQ(get(signupRequestUrl(host, user)), "!VAL signed up");
        const std::string password = mailedPassword();
        EXPECT_EQ(command(user, password, "confirm"), "!VAL confirmed");
        return password;
    }

    TempFolder folder;
    ServiceConfig config;
    service::Renderer* renderer = nullptr; // none: records wait in the queue
    std::unique_ptr<Store> store;
    std::unique_ptr<Mailer> mailer;
    std::unique_ptr<RenderQueue> queue;
    std::unique_ptr<Commands> commands;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::string host;
    PermanentConnection connection;
    WaitingPump pump;
    TNet net{connection, pump};
};

} // namespace tonvert::test
