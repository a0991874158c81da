#include "netUnit.h"

#include <memory>

#include "curlSession.h"
#include "inetThread.h"
#include "inetUpThread.h"

namespace tonvert {

std::atomic<bool> abortRequested{false};
std::atomic<bool> applicationTerminating{false};

namespace {

// How long one turn of the owner's loop may wait for news from the worker.
constexpr std::chrono::milliseconds kTurn{50};

const char* text(NetMessage message) {
    return netMessageText(message);
}

} // namespace

TNet::TNet(ConnectionState& connection, MessagePump& pump)
    : connection_(&connection)
    , pump_(&pump) {
    initialiseCurl();
}

void TNet::assign(const TNet& source) {
    online = source.online;
    dialled = source.dialled;
    proxyServer = source.proxyServer;
    proxyBypass = source.proxyBypass;
    status = source.status;
    proxyPort = source.proxyPort;
    attempts = source.attempts;
    timeout = source.timeout;
    OnStatus = source.OnStatus;
    OnProgress = source.OnProgress;
}

void TNet::setStatus(const std::string& text) {
    status = text;
    if (OnStatus)
        OnStatus(*this);
}

void TNet::goOnline() {
    if (online)
        return;
    dialled = false;
    std::uint32_t flags = 0;
    if (connection_->connected(flags)) {
        online = true;
        setStatus(text(NetMessage::connected));
        return;
    }
    setStatus(text(NetMessage::goingOnline));
    if (!connection_->attemptConnect() || !connection_->connected(flags)) {
        setStatus(text(NetMessage::noInternetConnection));
        return;
    }
    online = true;
    dialled = (flags & ConnectionState::kModem) != 0;
    setStatus(text(NetMessage::connected));
}

void TNet::goOffline() {
    if (!online)
        return;
    if (dialled) {
        setStatus(text(NetMessage::hangingUp));
        connection_->hangUp();
        dialled = false;
    }
    online = false;
    setStatus(text(NetMessage::disconnected));
}

void TNet::abort() {
    abortRequested = true;
    pump_->wake();
}

SessionSettings TNet::settings(const std::string& userName, const std::string& password,
                               const std::string& agent, int bufferSize) const {
    SessionSettings s;
    s.proxyServer = proxyServer;
    s.proxyBypass = proxyBypass;
    s.proxyPort = proxyPort;
    s.agent = agent;
    s.userName = userName;
    s.password = password;
    s.attempts = attempts;
    s.timeout = timeout;
    s.bufferSize = bufferSize;
    return s;
}

void TNet::pumpOnce(std::chrono::milliseconds maxWait) {
    pump_->pump(maxWait);
}

bool TNet::get(const std::string& url, const std::string& userName, const std::string& password,
               const std::string& agent, int bufferSize, bool hangUp, bool detailed,
               std::string& reply, const std::string& targetFile) {
    const SessionSettings session = settings(userName, password, agent, bufferSize);
    const TINetThread::Request request{url, targetFile, detailed};
    return run([&] { return std::make_unique<TINetThread>(session, request); }, false, hangUp,
               reply);
}

bool TNet::post(const std::string& url, const std::string& userName, const std::string& password,
                const std::string& agent, const std::string& filePath,
                const std::string& filePartName, const std::string& uploadName,
                const std::vector<std::string>& fields, int bufferSize, bool hangUp, bool detailed,
                std::string& reply) {
    const SessionSettings session = settings(userName, password, agent, bufferSize);
    const TINetUpThread::Request request{url, filePath, filePartName, uploadName, fields, detailed};
    return run([&] { return std::make_unique<TINetUpThread>(session, request); }, true, hangUp,
               reply);
}

bool TNet::run(const std::function<std::unique_ptr<NetWorker>()>& makeWorker, bool progressAlways,
               bool hangUp, std::string& reply) {
    abortRequested = false;
    std::string result = text(NetMessage::connectionError);
    reply = result;
    bool succeeded = false;

    goOnline();
    pumpOnce(std::chrono::milliseconds(0));
    if (!online)
        return false;

    try {
        const std::unique_ptr<NetWorker> worker = makeWorker();
        worker->setOnDone([pump = pump_] { pump->wake(); });

        while (!transferAborted() && !worker->done()) {
            const double progress = worker->progress();
            if (OnProgress && (progressAlways || progress > 0.0))
                OnProgress(progress);
            pumpOnce(kTurn);
        }
        if (!worker->done()) {
            // Aborted or closing: the worker notices within a second; give it the grace.
            const auto deadline = std::chrono::steady_clock::now() + abortGrace;
            while (!worker->done() && std::chrono::steady_clock::now() < deadline)
                pumpOnce(kTurn);
        }
        if (worker->done()) {
            succeeded = worker->succeeded();
            reply = succeeded ? worker->reply() : worker->message();
            result = worker->message();
        } else {
            // Left to end by itself: it keeps its own state and closes its own handles, and
            // stops at its next check even when a later transfer clears the abort.
            worker->cancel();
            reply = result = text(NetMessage::connectionAborted);
        }
    } catch (...) {
        reply = result = text(NetMessage::outOfMemory);
        succeeded = false;
    }

    setStatus(result);
    if (hangUp)
        goOffline();
    return succeeded;
}

} // namespace tonvert
