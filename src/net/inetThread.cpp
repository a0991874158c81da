#include "inetThread.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "asciiText.h"
#include "fileDescriptor.h"
#include "netAbort.h"
#include "netMessages.h"
#include "urlsUnit.h"

namespace tonvert {

namespace {

const char* text(NetMessage message) {
    return netMessageText(message);
}

// What one download has seen so far.
struct Download {
    CURL* curl = nullptr;
    NetWorkerState* state = nullptr;
    bool http = true; // the answers carry HTTP status lines
    int fd = -1;
    curl_off_t contentLength = -1;
    std::uint64_t received = 0;
    long refusedStatus = 0;  // a final HTTP status other than 200 to 203
    bool answered = false;   // the final status line and headers have arrived
    bool redirected = false; // the header block just read sends elsewhere
    int fileError = -1;      // errno of a failed write to the target file, 0 when unknown
    bool replyTooLong = false;
};

bool startsWithNoCase(const char* data, std::size_t length, const char* prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i)
        if (i >= length || ascii::toLower(data[i]) != prefix[i])
            return false;
    return true;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& d = *static_cast<Download*>(user);
    const std::size_t length = size * count;
    // An FTP address fetched through an HTTP proxy is answered in HTTP: its status counts.
    if (!d.http && startsWithNoCase(data, length, "http/"))
        d.http = true;
    if (!d.http)
        return length;
    if (startsWithNoCase(data, length, "location:"))
        d.redirected = true;
    const bool blockEnds = (length == 2 && data[0] == '\r') || (length == 1 && data[0] == '\n');
    if (!blockEnds)
        return length;

    long status = 0;
    curl_easy_getinfo(d.curl, CURLINFO_RESPONSE_CODE, &status);
    const bool followed = d.redirected && status >= 300 && status < 400;
    d.redirected = false;
    if ((status >= 100 && status < 200) || followed)
        return length; // the answer that counts comes after this one
    if (status < 200 || status > 203) {
        d.refusedStatus = status;
        return 0;
    }
    d.answered = true;
    curl_off_t announced = -1;
    if (curl_easy_getinfo(d.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced >= 0)
        d.contentLength = announced;
    return length;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& d = *static_cast<Download*>(user);
    const std::size_t length = size * count;
    if (d.fd >= 0) {
        std::size_t written = 0;
        while (written < length) {
            const ssize_t n = ::write(d.fd, data + written, length - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                d.fileError = n < 0 ? errno : 0;
                return 0;
            }
            written += static_cast<std::size_t>(n);
        }
    } else {
        if (d.state->reply.size() + length > kMaxReplyInMemory) {
            d.replyTooLong = true;
            return 0;
        }
        d.state->reply.append(data, length);
    }
    d.answered = true; // FTP has no status line: its first data answers
    d.received += length;
    // Unknown length: a negative fraction, which the owner does not pass on.
    d.state->progress.store(d.contentLength > 0 ? double(d.received) / double(d.contentLength)
                                                : -1.0,
                            std::memory_order_relaxed);
    return length;
}

class DownloadRun {
public:
    DownloadRun(const SessionSettings& settings, const TINetThread::Request& request,
                NetWorkerState& state)
        : settings_(settings)
        , request_(request)
        , state_(state) {}

    void execute() {
        std::string scheme, port, path;
        if (!splitUrl(request_.url, scheme, host_, port, path)) {
            state_.message = subject(NetMessage::invalidUrl, request_.url);
            return;
        }
        ftp_ = scheme == "ftp://";
        download_.http = !ftp_;
        download_.state = &state_;

        // The file is closed on every way out.
        FileDescriptor target;
        if (!request_.targetFile.empty()) {
            std::remove(request_.targetFile.c_str());
            target.reset(
                ::open(request_.targetFile.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            if (!target.valid()) {
                state_.message = subject(NetMessage::cantOpenFile, request_.url);
                return;
            }
            download_.fd = target.get();
        }
        transfer();
    }

private:
    std::string subject(NetMessage message, const std::string& what) const {
        return stageText(text(message), request_.detailed, what);
    }

    std::string failure(long systemError, NetMessage message, const std::string& what,
                        long serverStatus = 0) const {
        return failureCause(systemError, serverStatus) + ": " + subject(message, what);
    }

    void transfer() {
        if (transferStopped(settings_)) {
            state_.message = text(NetMessage::connectionAborted);
            return;
        }
        CURLcode code = CURLE_OK;
        const CurlHandle session = performTransfer(
            settings_, host_,
            [this](CURL* curl) {
                download_.curl = curl;
                curl_easy_setopt(curl, CURLOPT_URL, request_.url.c_str());
                curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
                curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
                curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
                curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, long(receiveBufferSize()));
                curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeader);
                curl_easy_setopt(curl, CURLOPT_HEADERDATA, &download_);
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
                curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download_);
                if (ftp_)
                    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
            },
            code, stall_);
        if (!session) {
            state_.message = failureCause(0) + ": " + text(NetMessage::cantOpenSession);
        } else if (code == CURLE_OK) {
            state_.succeeded = true;
            state_.message = subject(NetMessage::doneRetrieving, request_.url);
        } else {
            state_.message = explain(session.get(), code);
        }
    }

    // The receive buffer: the caller's size, but no less than 64 KiB. Smaller reads only
    // cost system calls: with 2 KiB a large download ran at three quarters of the speed.
    long receiveBufferSize() const {
        return std::clamp<long>(settings_.bufferSize, 64 * 1024, CURL_MAX_READ_SIZE);
    }

    std::string explain(CURL* curl, CURLcode code) const {
        const long systemError = systemErrorOf(curl);
        if (code == CURLE_ABORTED_BY_CALLBACK)
            return text(NetMessage::connectionAborted);
        if (download_.replyTooLong)
            return failure(0, NetMessage::cantReadUrl, request_.url);
        if (download_.fileError >= 0)
            return failure(download_.fileError, NetMessage::cantWriteFile, request_.targetFile);
        if (download_.refusedStatus != 0)
            return failure(systemError, NetMessage::cantWriteUrl, request_.url,
                           download_.refusedStatus);
        if (stall_ != Stall::none)
            return failure(systemError,
                           stall_ == Stall::reply ? NetMessage::cantReadUrl
                                                  : NetMessage::cantWriteUrl,
                           request_.url);
        if (failedToConnect(curl, code))
            return failure(systemError, NetMessage::cantConnectToHost, host_);
        if (!download_.answered) {
            // An FTP file that cannot be opened leaves the connection stage's text.
            if (!download_.http)
                return subject(NetMessage::cantConnectToHost, host_);
            return failure(systemError, NetMessage::cantWriteUrl, request_.url);
        }
        return failure(systemError, NetMessage::cantReadUrl, request_.url);
    }

    const SessionSettings& settings_;
    const TINetThread::Request& request_;
    NetWorkerState& state_;
    std::string host_;
    bool ftp_ = false;
    Download download_;
    Stall stall_ = Stall::none;
};

} // namespace

TINetThread::TINetThread(const SessionSettings& settings, const Request& request) {
    start([settings = SessionSettings(settings), request](NetWorkerState& state) mutable {
        settings.cancelled = &state.cancelled;
        DownloadRun(settings, request, state).execute();
    });
}

} // namespace tonvert
