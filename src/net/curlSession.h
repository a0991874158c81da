#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <functional>
#include <memory>
#include <string>

namespace tonvert {

// The network settings' time-out, which an unset one (0) stands for: no transfer may wait for
// ever on a server that went silent.
inline constexpr std::int32_t kDefaultTimeout = 60000;

// How long a reply may keep silent, from the end of the request to its last byte, before the
// transfer is given up. Generous on purpose: a rendering service may think for minutes over
// a long piece before it says a word, and the user can abort any time; yet a server that has
// died without closing the line must not hold a transfer for ever.
inline constexpr std::chrono::milliseconds kReplySilence{10 * 60 * 1000};

// What every transfer takes from the connection settings.
struct SessionSettings {
    std::string proxyServer; // empty: direct
    std::string proxyBypass; // hosts that are reached directly although a proxy is set
    std::uint16_t proxyPort = 0;
    std::string agent;
    std::string userName;
    std::string password;
    int attempts = 0; // connection attempts; 0 counts as 1
    // Milliseconds to connect, and that sending the request may stall; 0: kDefaultTimeout.
    std::int32_t timeout = 0;
    // How long the reply may keep silent; the time-out when that is longer.
    std::chrono::milliseconds replySilence = kReplySilence;
    int bufferSize = 2048;
    // This transfer alone was given up (its owner left it): it stops like an aborted one.
    const std::atomic<bool>* cancelled = nullptr;
};

// Whether the transfer is to stop: the program-wide abort, closing, or its own cancel.
bool transferStopped(const SessionSettings& settings);

// Makes libcurl ready; the first call must come before any transfer thread starts.
void initialiseCurl();

struct CurlCleanup {
    void operator()(CURL* curl) const;
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// Which watch ended a transfer as timed out, once it was connected.
enum class Stall {
    none,
    sending, // no byte of the request went out for the time-out
    reply,   // no byte of the reply came in for the reply silence
};

// Performs a transfer on a fresh session (proxy unless the host is on the bypass list, agent,
// credentials, time-outs, no signals, the abort check, HTTP for an address without a scheme)
// that `prepare` sets up, again while it could not connect, tries are left and nobody
// aborted. Gives the last try's handle (for its details) and its code; no handle when no
// session could be opened. A stalled send or a silent reply ends it with
// CURLE_OPERATION_TIMEDOUT and names the stage in `stall`.
CurlHandle performTransfer(const SessionSettings& settings, const std::string& host,
                           const std::function<void(CURL*)>& prepare, CURLcode& code, Stall& stall);

// Whether libcurl failed before a connection was made.
bool failedToConnect(CURL* curl, CURLcode code);

long systemErrorOf(CURL* curl);

// A stage text, with its subject after a blank when `detailed`.
std::string stageText(const char* text, bool detailed, const std::string& subject);

} // namespace tonvert
