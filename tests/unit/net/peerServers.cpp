#include "peerServers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "httpTestServer.h"
#include "testFiles.h"

extern char** environ;

namespace tonvert::test {

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& command, int port)
    : port_(port) {
    std::vector<char*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && !ready_ && std::chrono::steady_clock::now() < deadline) {
        ready_ = accepts(port_);
        if (!ready_)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PeerProcess::~PeerProcess() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

TinyProxy::TinyProxy(const std::string& folder)
    : port(unusedPort())
    , process(
          [&] {
              const std::string config = folder + "tinyproxy.conf";
              writeBytes(config, "Port " + std::to_string(port) +
                                     "\nListen 127.0.0.1\nAllow 127.0.0.1\n"
                                     "Timeout 30\nMaxClients 16\n"
                                     "LogFile \"" +
                                     folder + "tinyproxy.log\"\n");
              return std::vector<std::string>{"tinyproxy", "-d", "-c", config};
          }(),
          port) {}

FtpServer::FtpServer(const std::string& folder)
    : port(unusedPort())
    , process({"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port),
               "-d", folder},
              port) {}

} // namespace tonvert::test
