#include "curlSession.h"

#include <algorithm>
#include <mutex>

#include "netAbort.h"
#include "proxyBypass.h"

namespace tonvert {

namespace {

int onProgress(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* flag = static_cast<const std::atomic<bool>*>(cancelled);
    return transferAborted() || (flag != nullptr && flag->load()) ? 1 : 0;
}

} // namespace

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlHandle openSession(const SessionSettings& settings, const std::string& host) {
    initialiseCurl();
    CurlHandle handle(curl_easy_init());
    CURL* curl = handle.get();
    if (curl == nullptr)
        return handle;

    // Always set: libcurl would otherwise take a proxy from the environment.
    const bool viaProxy =
        !settings.proxyServer.empty() && !bypassesProxy(settings.proxyBypass, host);
    const std::string proxy =
        viaProxy ? settings.proxyServer + ":" + std::to_string(settings.proxyPort) : "";
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    if (!settings.agent.empty())
        curl_easy_setopt(curl, CURLOPT_USERAGENT, settings.agent.c_str());
    if (!settings.userName.empty())
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.userName.c_str());
    if (!settings.password.empty())
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
    if (settings.timeout > 0) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(settings.timeout));
        // A transfer that stays silent for the time-out ends.
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(std::max(1, settings.timeout / 1000)));
    }
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, settings.cancelled);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,ftp");
    // An address typed without a scheme means a web page, whatever its host name suggests
    // ("ftp.example.com/x" too).
    curl_easy_setopt(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
    return handle;
}

CurlHandle performTransfer(const SessionSettings& settings, const std::string& host,
                           const std::function<void(CURL*)>& prepare, CURLcode& code) {
    for (int tries = std::max(1, settings.attempts);; --tries) {
        CurlHandle session = openSession(settings, host);
        if (!session)
            return session;
        prepare(session.get());
        code = curl_easy_perform(session.get());
        if (code == CURLE_OK || !failedToConnect(session.get(), code) || tries <= 1 ||
            transferStopped(settings))
            return session;
    }
}

bool failedToConnect(CURL* curl, CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return true;
    case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
        return connected == 0;
    }
    default:
        return false;
    }
}

bool transferStopped(const SessionSettings& settings) {
    return transferAborted() || (settings.cancelled != nullptr && settings.cancelled->load());
}

long systemErrorOf(CURL* curl) {
    long error = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &error);
    return error;
}

std::string stageText(const char* text, bool detailed, const std::string& subject) {
    return detailed ? std::string(text) + " " + subject : std::string(text);
}

} // namespace tonvert
