#pragma once

#include <cstdint>

namespace tonvert {

// The system's Internet connection: whether one is up, bringing one up, hanging up one that
// the program brought up. The program's own reports a connection that is always there (no
// dial-up here); tests inject one that is off line or cannot dial.
class ConnectionState {
public:
    static constexpr std::uint32_t kModem = 1;

    virtual ~ConnectionState() = default;
    // Whether a connection is up; `flags` tells how it runs (kModem for a modem).
    virtual bool connected(std::uint32_t& flags) = 0;
    // Asks the system to bring a connection up; true when it answered success.
    virtual bool attemptConnect() = 0;
    virtual void hangUp() = 0;
};

// A machine on a network that is simply there.
class PermanentConnection : public ConnectionState {
public:
    bool connected(std::uint32_t& flags) override {
        flags = 0;
        return true;
    }
    bool attemptConnect() override { return true; }
    void hangUp() override {}
};

} // namespace tonvert
