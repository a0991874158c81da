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

SessionSettings TNet::settings(const TransferOptions& options) const {
    SessionSettings s;
    s.proxyServer = proxyServer;
    s.proxyBypass = proxyBypass;
    s.proxyPort = proxyPort;
    s.agent = options.agent;
    s.userName = options.userName;
    s.password = options.password;
    s.attempts = attempts;
    s.timeout = timeout;
    s.replySilence = kReplySilence;
    s.bufferSize = options.bufferSize;
    return s;
}

TransferResult TNet::download(const DownloadRequest& request) {
    const SessionSettings session = settings(request.options);
    const TINetThread::Request work{request.url, request.targetFile, request.options.detailed};
    return run([&] { return std::make_unique<TINetThread>(session, work); }, false,
               request.options.hangUp);
}

TransferResult TNet::upload(const UploadRequest& request) {
    const SessionSettings session = settings(request.options);
    const TINetUpThread::Request work{request.url,          request.filePath,
                                      request.filePartName, request.uploadName,
                                      request.fields,       request.options.detailed};
    return run([&] { return std::make_unique<TINetUpThread>(session, work); }, true,
               request.options.hangUp);
}

TransferResult TNet::run(const std::function<std::unique_ptr<NetWorker>()>& makeWorker,
                         bool progressAlways, bool hangUp) {
    abortRequested = false;
    TransferResult outcome;
    outcome.message = text(NetMessage::connectionError);

    goOnline();
    pump_->pump(std::chrono::milliseconds(0));
    if (!online)
        return outcome;

    std::string status = outcome.message;
    try {
        const std::unique_ptr<NetWorker> worker = makeWorker();
        worker->setOnDone([pump = pump_] { pump->wake(); });

        while (!transferAborted() && !worker->done()) {
            const double progress = worker->progress();
            if (OnProgress && (progressAlways || progress > 0.0))
                OnProgress(progress);
            pump_->pump(kTurn);
        }
        if (!worker->done()) {
            // Aborted or closing: the worker notices within a second; give it the grace.
            const auto deadline = std::chrono::steady_clock::now() + abortGrace;
            while (!worker->done() && std::chrono::steady_clock::now() < deadline)
                pump_->pump(kTurn);
        }
        if (worker->done()) {
            outcome.ok = worker->succeeded();
            outcome.message = status = worker->message();
            if (outcome.ok)
                outcome.reply = worker->reply();
        } else {
            // Left to end by itself: it keeps its own state and closes its own handles, and
            // stops at its next check even when a later transfer clears the abort.
            worker->cancel();
            outcome.message = status = text(NetMessage::connectionAborted);
        }
    } catch (...) {
        outcome = {false, "", text(NetMessage::outOfMemory)};
        status = outcome.message;
    }

    setStatus(status);
    if (hangUp)
        goOffline();
    return outcome;
}

} // namespace tonvert
