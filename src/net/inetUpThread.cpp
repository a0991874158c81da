#include "inetUpThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileDescriptor.h"
#include "netAbort.h"
#include "netMessages.h"
#include "urlsUnit.h"

namespace tonvert {

namespace {

const char* text(NetMessage message) {
    return netMessageText(message);
}

const char* const kCrLf = "\r\n";
constexpr std::size_t kScanBufferSize = 256 * 1024;

struct Field {
    std::string name;
    std::string value;
};

std::vector<Field> splitFields(const std::vector<std::string>& lines) {
    std::vector<Field> fields;
    for (const std::string& line : lines) {
        const auto equals = line.find('=');
        fields.push_back(equals == std::string::npos
                             ? Field{line, {}}
                             : Field{line.substr(0, equals), line.substr(equals + 1)});
    }
    return fields;
}

ssize_t readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// The request body, streamed piece by piece: the field parts, the file part's head, the
// file's bytes (as many as it had when the length was announced), the closing.
class Body {
public:
    Body(std::vector<std::string> texts, std::string closing, int fd, std::uint64_t fileSize,
         const SessionSettings& settings)
        : texts_(std::move(texts))
        , fd_(fd)
        , fileLeft_(fileSize)
        , settings_(settings) {
        texts_.push_back(std::move(closing));
        for (const auto& t : texts_)
            total_ += t.size();
        total_ += fileSize;
    }

    std::uint64_t total() const { return total_; }
    std::uint64_t sent() const { return sent_; }
    bool started() const { return started_; }
    bool complete() const { return sent_ == total_; }
    int fileError() const { return fileError_; }

    enum : long { kAborted = -2, kFileFailed = -1 };

    // Fills up to `room` bytes; 0 at the end.
    long fill(char* out, std::size_t room) {
        started_ = true;
        std::size_t given = 0;
        while (given < room && piece_ < texts_.size()) {
            const bool fileTurn = piece_ + 1 == texts_.size() && fileLeft_ > 0;
            if (fileTurn) {
                if (transferStopped(settings_))
                    return kAborted;
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(room - given, fileLeft_));
                const ssize_t n = readSome(fd_, out + given, want);
                if (n <= 0) {
                    fileError_ = n < 0 ? errno : EIO; // the file shrank under us
                    return kFileFailed;
                }
                given += static_cast<std::size_t>(n);
                fileLeft_ -= static_cast<std::uint64_t>(n);
                continue;
            }
            const std::string& t = texts_[piece_];
            const std::size_t n = std::min(room - given, t.size() - at_);
            std::memcpy(out + given, t.data() + at_, n);
            given += n;
            at_ += n;
            if (at_ == t.size()) {
                ++piece_;
                at_ = 0;
            }
        }
        sent_ += given;
        return static_cast<long>(given);
    }

private:
    std::vector<std::string> texts_; // the closing last; the file goes before it
    int fd_;
    std::uint64_t fileLeft_;
    const SessionSettings& settings_;
    std::uint64_t total_ = 0;
    std::uint64_t sent_ = 0;
    std::size_t piece_ = 0;
    std::size_t at_ = 0;
    bool started_ = false;
    int fileError_ = 0;
};

struct Upload {
    Body* body = nullptr;
    NetWorkerState* state = nullptr;
    bool fileFailed = false;
    bool aborted = false;
    bool replyTooLong = false;
};

std::size_t onSend(char* out, std::size_t size, std::size_t count, void* user) {
    auto& u = *static_cast<Upload*>(user);
    const long n = u.body->fill(out, size * count);
    if (n == Body::kAborted) {
        u.aborted = true;
        return CURL_READFUNC_ABORT;
    }
    if (n == Body::kFileFailed) {
        u.fileFailed = true;
        return CURL_READFUNC_ABORT;
    }
    u.state->progress.store(double(u.body->sent()) / double(u.body->total()),
                            std::memory_order_relaxed);
    return static_cast<std::size_t>(n);
}

std::size_t onReply(char* data, std::size_t size, std::size_t count, void* user) {
    auto& u = *static_cast<Upload*>(user);
    const std::size_t length = size * count;
    if (u.state->reply.size() + length > kMaxReplyInMemory) {
        u.replyTooLong = true;
        return 0;
    }
    u.state->reply.append(data, length);
    return length;
}

class UploadRun {
public:
    UploadRun(const SessionSettings& settings, const TINetUpThread::Request& request,
              const TINetUpThread::BoundarySource& boundaries, NetWorkerState& state)
        : settings_(settings)
        , request_(request)
        , boundaries_(boundaries)
        , state_(state) {}

    void execute() {
        std::string scheme, port, path;
        if (!splitUrl(request_.url, scheme, host_, port, path)) {
            state_.message = subject(NetMessage::invalidUrl, request_.url);
            return;
        }
        if (scheme != "http://") {
            state_.message = subject(NetMessage::invalidProtocol, scheme);
            return;
        }
        // Linux allows such names; they never go on the wire.
        fields_ = splitFields(request_.fields);
        const bool unfitName = !fitsPartHead(request_.uploadName) ||
                               !fitsPartHead(request_.filePartName) ||
                               std::any_of(fields_.begin(), fields_.end(),
                                           [](const Field& f) { return !fitsPartHead(f.name); });
        if (unfitName) {
            state_.message = failure(0, NetMessage::cantOpenFile, request_.filePath);
            return;
        }
        file_.reset(::open(request_.filePath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file_.valid()) {
            state_.message = subject(NetMessage::cantOpenFile, request_.filePath);
            return;
        }
        fd_ = file_.get();
        if (chooseBoundary())
            send();
    }

private:
    std::string subject(NetMessage message, const std::string& what) const {
        return stageText(text(message), request_.detailed, what);
    }

    std::string failure(long systemError, NetMessage message, const std::string& what) const {
        return failureCause(systemError) + ": " + subject(message, what);
    }

    bool isFieldText(const std::string& candidate) const {
        return std::any_of(fields_.begin(), fields_.end(), [&](const Field& f) {
            return f.name == candidate || f.value == candidate;
        });
    }

    // The caller's buffer size, but reads of at least 256 KiB where the file cannot be mapped.
    std::size_t scanBufferSize() const {
        return std::max<std::size_t>(static_cast<std::size_t>(std::max(0, settings_.bufferSize)),
                                     kScanBufferSize);
    }

    bool chooseBoundary() {
        for (int checked = 1;; ++checked) {
            std::string candidate;
            do
                candidate = boundaries_ ? boundaries_() : randomBoundary();
            while (isFieldText(candidate));
            const FileScan scan = scanFileFor(fd_, candidate, scanBufferSize());
            if (scan == FileScan::failed || ::lseek(fd_, 0, SEEK_SET) != 0) {
                state_.message = subject(NetMessage::cantSeekFile, request_.filePath);
                return false;
            }
            if (scan == FileScan::absent) {
                boundary_ = candidate;
                return true;
            }
            if (checked == kBoundaryCandidates) {
                state_.message = subject(NetMessage::cantCreateBoundary, request_.filePath);
                return false;
            }
        }
    }

    void send() {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) {
            state_.message = subject(NetMessage::cantSeekFile, request_.filePath);
            return;
        }
        std::vector<std::string> texts;
        for (const Field& field : fields_)
            texts.push_back("--" + boundary_ + kCrLf + "Content-Disposition: form-data; name=\"" +
                            field.name + "\"" + kCrLf + kCrLf + field.value + kCrLf);
        texts.push_back("--" + boundary_ + kCrLf + "Content-Disposition: form-data; name=\"" +
                        request_.filePartName + "\"; filename=\"" + request_.uploadName + "\"" +
                        kCrLf + "Content-Type: application/upload" + kCrLf + kCrLf);
        Body body(std::move(texts), std::string(kCrLf) + "--" + boundary_ + "--" + kCrLf, fd_,
                  static_cast<std::uint64_t>(info.st_size), settings_);

        if (transferStopped(settings_)) {
            state_.message = text(NetMessage::connectionAborted);
            return;
        }
        const std::string contentType = "Content-Type: multipart/form-data; boundary=" + boundary_;
        curl_slist* headers = curl_slist_append(nullptr, contentType.c_str());
        // No "Expect: 100-continue": the body follows the headers at once.
        headers = curl_slist_append(headers, "Expect:");
        const std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers,
                                                                            &curl_slist_free_all);
        Upload upload{&body, &state_};
        CURLcode code = CURLE_OK;
        Stall stall = Stall::none;
        const CurlHandle session = performTransfer(
            settings_, host_,
            [&](CURL* curl) {
                curl_easy_setopt(curl, CURLOPT_URL, request_.url.c_str());
                curl_easy_setopt(curl, CURLOPT_POST, 1L);
                curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
                curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.total()));
                curl_easy_setopt(curl, CURLOPT_READFUNCTION, &onSend);
                curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
                curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onReply);
                curl_easy_setopt(curl, CURLOPT_WRITEDATA, &upload);
                // Larger pieces of body per call: fewer file reads and socket writes.
                curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
            },
            code, stall);
        if (!session) {
            state_.message = failureCause(0) + ": " + text(NetMessage::cantOpenSession);
        } else if (code == CURLE_OK && body.complete()) {
            state_.succeeded = true;
            state_.message = subject(NetMessage::doneRetrieving, request_.url);
        } else {
            state_.message = explain(session.get(), code, stall, body, upload);
        }
    }

    std::string explain(CURL* curl, CURLcode code, Stall stall, const Body& body,
                        const Upload& upload) const {
        const long systemError = systemErrorOf(curl);
        if (code == CURLE_ABORTED_BY_CALLBACK || upload.aborted)
            return text(NetMessage::connectionAborted);
        if (upload.replyTooLong)
            return failure(0, NetMessage::cantReadUrl, request_.url);
        if (upload.fileFailed)
            return failure(body.fileError(), NetMessage::cantWriteUrl, request_.url);
        if (stall != Stall::none)
            return failure(systemError,
                           stall == Stall::reply ? NetMessage::cantReadUrl
                                                 : NetMessage::cantWriteUrl,
                           request_.url);
        if (failedToConnect(curl, code))
            return failure(systemError, NetMessage::cantConnectToHost, host_);
        if (!body.started())
            return failure(systemError, NetMessage::cantOpenUrl, request_.url);
        if (!body.complete())
            return failure(systemError, NetMessage::cantWriteUrl, request_.url);
        return failure(systemError, NetMessage::cantReadUrl, request_.url);
    }

    const SessionSettings& settings_;
    const TINetUpThread::Request& request_;
    const TINetUpThread::BoundarySource& boundaries_;
    NetWorkerState& state_;
    std::string host_;
    std::vector<Field> fields_;
    std::string boundary_;
    FileDescriptor file_; // closed on every way out
    int fd_ = -1;
};

} // namespace

bool fitsPartHead(const std::string& name) {
    return name.find_first_of("\"\r\n") == std::string::npos;
}

FileScan scanFileFor(int fd, const std::string& text, std::size_t readSize, bool mayMap) {
    struct stat info {};
    if (mayMap && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const auto size = static_cast<std::size_t>(info.st_size);
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            const bool found = ::memmem(mapped, size, text.data(), text.size()) != nullptr;
            ::munmap(mapped, size);
            return found ? FileScan::found : FileScan::absent;
        }
    }

    const std::size_t overlap = text.size() - 1;
    readSize = std::max(readSize, 2 * text.size());
    std::vector<char> buffer(readSize);
    ssize_t n = readSome(fd, buffer.data(), readSize);
    if (n < 0)
        return FileScan::failed;
    if (static_cast<std::size_t>(n) < text.size())
        return FileScan::absent; // too short to hold it
    std::size_t filled = static_cast<std::size_t>(n);
    for (;;) {
        if (::memmem(buffer.data(), filled, text.data(), text.size()) != nullptr)
            return FileScan::found;
        std::memmove(buffer.data(), buffer.data() + filled - overlap, overlap);
        n = readSome(fd, buffer.data() + overlap, readSize - overlap);
        if (n < 0)
            return FileScan::failed;
        if (n == 0)
            return FileScan::absent;
        filled = overlap + static_cast<std::size_t>(n);
    }
}

std::string randomBoundary() {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device{}()));
    std::uniform_int_distribution<int> kind(0, 2), letter(0, 25), digit(0, 9);
    std::string boundary;
    for (std::size_t i = 0; i < kBoundaryLength; ++i) {
        switch (kind(generator)) {
        case 0:
            boundary += static_cast<char>('A' + letter(generator));
            break;
        case 1:
            boundary += static_cast<char>('a' + letter(generator));
            break;
        default:
            boundary += static_cast<char>('0' + digit(generator));
        }
    }
    return boundary;
}

TINetUpThread::TINetUpThread(const SessionSettings& settings, const Request& request,
                             BoundarySource boundaries) {
    start([settings = SessionSettings(settings), request,
           boundaries = std::move(boundaries)](NetWorkerState& state) mutable {
        settings.cancelled = &state.cancelled;
        UploadRun(settings, request, boundaries, state).execute();
    });
}

} // namespace tonvert
