#include "curlSession.h"

#include <algorithm>
#include <mutex>

#include "netAbort.h"
#include "proxyBypass.h"

namespace tonvert {

namespace {

using Clock = std::chrono::steady_clock;

// What one try's progress checks keep: the abort flags and the two watches. It lives as long
// as the try's handle; only the transfer's own thread touches it.
struct TransferWatch {
    TransferWatch(const SessionSettings& settings, CURL* handle)
        : curl(handle)
        , cancelled(settings.cancelled) {
        const std::chrono::milliseconds timeout(settings.timeout > 0 ? settings.timeout
                                                                     : kDefaultTimeout);
        sendLimit = timeout;
        replyLimit = std::max(settings.replySilence, timeout);
    }

    CURL* curl;
    const std::atomic<bool>* cancelled;
    std::chrono::milliseconds sendLimit{};
    std::chrono::milliseconds replyLimit{};
    bool requesting = false; // connected: the request is under way
    bool replying = false;   // the request has gone out, or the answer has begun
    curl_off_t sent = 0;     // body bytes out, as last seen
    curl_off_t received = 0; // bytes in, headers included, as last seen
    long headersBefore = 0;  // header bytes of earlier requests of this try (redirects)
    Clock::time_point lastMove;
    Stall stall = Stall::none;
};

long headerBytes(CURL* curl) {
    long bytes = 0;
    curl_easy_getinfo(curl, CURLINFO_HEADER_SIZE, &bytes);
    return bytes;
}

// Connected (again, after a redirect): the request is about to go out. Connecting itself is
// libcurl's connect time-out's business.
int onRequest(void* data, char*, char*, int, int) {
    auto& watch = *static_cast<TransferWatch*>(data);
    watch.requesting = true;
    watch.replying = false;
    watch.sent = 0;
    watch.headersBefore = headerBytes(watch.curl);
    watch.received = watch.headersBefore;
    watch.lastMove = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Called at least once a second, moving or not: the abort check and the watches.
int onProgress(void* data, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    auto& watch = *static_cast<TransferWatch*>(data);
    if (transferAborted() || (watch.cancelled != nullptr && watch.cancelled->load()))
        return 1;
    if (!watch.requesting)
        return 0;
    const auto now = Clock::now();
    const long headers = headerBytes(watch.curl);
    const curl_off_t received = dlnow + headers;
    // An answer that comes while the body is still going (a refusal, say) ends the sending.
    if (!watch.replying && (ulnow >= ultotal || headers > watch.headersBefore || dlnow > 0)) {
        watch.replying = true;
        watch.received = received;
        watch.lastMove = now;
        return 0;
    }
    curl_off_t& seen = watch.replying ? watch.received : watch.sent;
    const curl_off_t moved = watch.replying ? received : ulnow;
    if (moved != seen) {
        seen = moved;
        watch.lastMove = now;
        return 0;
    }
    if (now - watch.lastMove < (watch.replying ? watch.replyLimit : watch.sendLimit))
        return 0;
    watch.stall = watch.replying ? Stall::reply : Stall::sending;
    return 1;
}

TransferWatch* watchOf(CURL* curl) {
    char* watch = nullptr;
    curl_easy_getinfo(curl, CURLINFO_PRIVATE, &watch);
    return reinterpret_cast<TransferWatch*>(watch);
}

// The watch goes with the handle (CurlCleanup frees it), as libcurl may call back while it
// closes the connection.
CurlHandle openSession(const SessionSettings& settings, const std::string& host) {
    initialiseCurl();
    CurlHandle handle(curl_easy_init());
    CURL* curl = handle.get();
    if (curl == nullptr)
        return handle;
    auto* watch = new TransferWatch(settings, curl);
    curl_easy_setopt(curl, CURLOPT_PRIVATE, watch);

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
    // Name lookup, TCP and proxy connect; what follows has the watches.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(watch->sendLimit.count()));
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &onRequest);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, watch);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, watch);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,ftp");
    // An address typed without a scheme means a web page, whatever its host name suggests
    // ("ftp.example.com/x" too).
    curl_easy_setopt(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
    return handle;
}

} // namespace

void CurlCleanup::operator()(CURL* curl) const {
    TransferWatch* watch = watchOf(curl);
    curl_easy_cleanup(curl);
    delete watch;
}

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlHandle performTransfer(const SessionSettings& settings, const std::string& host,
                           const std::function<void(CURL*)>& prepare, CURLcode& code,
                           Stall& stall) {
    stall = Stall::none;
    for (int tries = std::max(1, settings.attempts);; --tries) {
        CurlHandle session = openSession(settings, host);
        if (!session)
            return session;
        prepare(session.get());
        code = curl_easy_perform(session.get());
        if (const Stall ran = watchOf(session.get())->stall; ran != Stall::none) {
            // It was connected: no other try.
            stall = ran;
            code = CURLE_OPERATION_TIMEDOUT;
            return session;
        }
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
