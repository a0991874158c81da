#pragma once

#include <atomic>
#include <cstdint>
#include <curl/curl.h>
#include <functional>
#include <memory>
#include <string>

namespace tonvert {

// What every transfer takes from the connection settings.
struct SessionSettings {
    std::string proxyServer; // empty: direct
    std::string proxyBypass; // hosts that are reached directly although a proxy is set
    std::uint16_t proxyPort = 0;
    std::string agent;
    std::string userName;
    std::string password;
    int attempts = 0;         // connection attempts; 0 counts as 1
    std::int32_t timeout = 0; // milliseconds to connect, and of silence before giving up; 0: none
    int bufferSize = 2048;
    // This transfer alone was given up (its owner left it): it stops like an aborted one.
    const std::atomic<bool>* cancelled = nullptr;
};

// Whether the transfer is to stop: the program-wide abort, closing, or its own cancel.
bool transferStopped(const SessionSettings& settings);

// Makes libcurl ready; the first call must come before any transfer thread starts.
void initialiseCurl();

struct CurlCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// A handle set up for a transfer to `host` with the session settings: proxy (unless the host
// is on the bypass list), agent, credentials, time-outs, no signals, the abort check, and HTTP
// for an address without a scheme.
CurlHandle openSession(const SessionSettings& settings, const std::string& host);

// Performs a transfer on a fresh session that `prepare` sets up, again while it could not
// connect, tries are left and nobody aborted. Gives the last try's handle (for its details)
// and its code; no handle when no session could be opened.
CurlHandle performTransfer(const SessionSettings& settings, const std::string& host,
                           const std::function<void(CURL*)>& prepare, CURLcode& code);

// Whether libcurl failed before a connection was made.
bool failedToConnect(CURL* curl, CURLcode code);

long systemErrorOf(CURL* curl);

// A stage text, with its subject after a blank when `detailed`.
std::string stageText(const char* text, bool detailed, const std::string& subject);

} // namespace tonvert
