// libFuzzer target for the service's own reading of requests. The first byte of the input
// picks the reader, the rest is its input ("H" a request's head as the listener gathers it,
// "U" the multipart body of an upload, "F" a form's body and the amounts in it, "N" file
// names; any other byte picks by its value):
// - the listener's verdict on a head does not depend on the pieces it arrives in: read in
//   pieces it is the one on all the bytes at once; a whole head has a known method and an
//   HTTP/1.x line;
// - a whole head the library routes to the script gives query fields that are the first of
//   each name, and written out again from what was parsed it is whole again and parses the
//   same;
// - an upload's fields and file are those of the first part of each name, no file part is
//   taken for a field, and the parts written out again read back the same;
// - a form's fields written out again with every byte encoded read back the same; an amount
//   taken is above zero and within the maximum, reads back from its money text, and blanks
//   around it change nothing;
// - a good file name is a root, a dot and a three-character extension; one that may be
//   uploaded is UTF-8 with a root of at most 200 bytes; UTF-8 is judged as a decoder of its
//   bit patterns judges it; an audio file's name made for a good name is good, free among the
//   names taken, and made of the MIDI file's root.

#include "fuzzSupport.h"
#include "http/requestHead.h"
#include "protocol/requestFields.h"
#include "store/names.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <httplib.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tonvert::service;
using tonvert::fuzz::check;

constexpr std::string_view kKinds = "HUFN";
constexpr const char* kScript = "/cgi-bin/wmn.pl";
constexpr std::size_t kMaxHeaderBytes = 512;
constexpr std::int64_t kMaxCents = 100000;
constexpr std::string_view kBoundary = "----tonvertPartBoundary";

// A connection's bytes in memory, as the library reads and writes them.
class MemoryStream final : public httplib::Stream {
public:
    explicit MemoryStream(std::string_view input)
        : input_(input) {}

    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t count = std::min(size, input_.size() - taken_);
        std::copy_n(input_.data() + taken_, count, ptr);
        taken_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char*, size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 8080;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string_view input_;
    std::size_t taken_ = 0;
};

// What a route of the script saw of the request it served.
struct Routed {
    std::string method, target, path, version;
    httplib::Headers headers;
    httplib::Params params;
    httplib::MultipartFormDataMap files;
};

// The library's server on a stream of our own, as the listener runs it, with routes for the
// script that keep what they were given.
class Server final : public httplib::Server {
public:
    Server() {
        const auto keep = [this](const httplib::Request& request, httplib::Response&) {
            routed = Routed{request.method,  request.target, request.path, request.version,
                            request.headers, request.params, request.files};
        };
        Get(kScript, keep);
        Post(kScript, keep);
    }

    std::optional<Routed> serve(std::string_view bytes) {
        routed.reset();
        MemoryStream stream(bytes);
        bool closed = false;
        process_request(stream, true, closed, [](httplib::Request&) {});
        return std::move(routed);
    }

private:
    std::optional<Routed> routed;
};

Server& server() {
    static Server instance;
    return instance;
}

// The headers the library adds of its own to every request.
bool addedByLibrary(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

std::string percentEncoded(char c) {
    static const char* const kHex = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    return {'%', kHex[byte >> 4], kHex[byte & 15]};
}

// The headers as the client sent them. Its own names are dropped: a client may send them too.
// So is a header whose value decoded to nothing ("%uD800" is no character): no line can carry
// an empty value, the library skips one.
httplib::Headers sentHeaders(const Routed& request) {
    httplib::Headers sent;
    for (const auto& [name, value] : request.headers)
        if (!addedByLibrary(name) && !value.empty())
            sent.emplace(name, value);
    return sent;
}

// The library decodes percent escapes in header values and trims their blanks: a value goes
// out with its percent signs, blanks and control characters escaped.
std::string headText(const Routed& request) {
    std::string text = request.method + " " + request.target + " " + request.version + "\r\n";
    for (const auto& [name, value] : sentHeaders(request)) {
        text += name + ": ";
        for (const char c : value)
            text += c == '%' || static_cast<unsigned char>(c) <= 32 ? percentEncoded(c)
                                                                    : std::string(1, c);
        text += "\r\n";
    }
    return text + "\r\n";
}

void checkQueryFields(const Routed& request) {
    const auto fields = queryFields(request.params);
    std::size_t names = 0;
    for (auto at = request.params.begin(); at != request.params.end();
         at = request.params.upper_bound(at->first))
        ++names;
    check(fields.size() == names, "query fields of another count than the names given");
    for (const auto& [name, value] : fields)
        check(request.params.lower_bound(name)->second == value,
              "a query field that is not the first of its name");
}

// The listener reads a head in pieces as they come: each scan carries on from the last, and
// the first verdict other than "partial" is taken.
void checkHead(const std::string& input) {
    if (input.empty())
        return;
    const std::size_t piece = 1 + static_cast<unsigned char>(input[0]) % 16;
    const std::string bytes = input.substr(1);
    std::string buffer;
    std::size_t scanned = 0;
    Head verdict = Head::partial;
    for (std::size_t at = 0; at < bytes.size() && verdict == Head::partial; at += piece) {
        buffer += bytes.substr(at, piece);
        verdict = scanHead(buffer, scanned, kMaxHeaderBytes);
    }
    std::size_t fresh = 0;
    check(scanHead(bytes, fresh, kMaxHeaderBytes) == verdict,
          "a head read in pieces judged otherwise than read at once");
    if (verdict != Head::whole)
        return;
    const auto lineEnd = buffer.find('\n');
    const auto space = buffer.find(' ');
    check(knownMethod(std::string_view(buffer).substr(0, space)) && buffer[lineEnd - 1] == '\r' &&
              buffer.compare(lineEnd - 10, 7, " HTTP/1") == 0,
          "a whole head without a known method and an HTTP/1.x request line");

    const auto request = server().serve(buffer);
    if (!request)
        return;
    checkQueryFields(*request);
    const std::string again = headText(*request);
    std::size_t scannedAgain = 0;
    check(scanHead(again, scannedAgain, again.size()) == Head::whole,
          "a parsed head written out again is not whole");
    const auto reread = server().serve(again);
    check(reread && reread->method == request->method && reread->target == request->target &&
              reread->path == request->path && reread->params == request->params &&
              sentHeaders(*reread) == sentHeaders(*request),
          "a parsed head written out again parses otherwise");
}

std::string multipartRequest(const std::string& body) {
    return "POST " + std::string(kScript) +
           " HTTP/1.1\r\nHost: tonvert.localhost\r\nContent-Type: multipart/form-data; "
           "boundary=" +
           std::string(kBoundary) + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// A text that goes into a part's header between quotes as it is.
bool quotable(const std::string& text) {
    return text.find_first_of("\"\r\n\\%;") == std::string::npos;
}

// The parts written as a browser writes them; nullopt when a name or content could not be.
std::optional<std::string> multipartBody(const httplib::MultipartFormDataMap& parts) {
    std::string body;
    for (const auto& [name, part] : parts) {
        if (!quotable(name) || !quotable(part.filename) ||
            part.content.find(kBoundary) != std::string::npos)
            return std::nullopt;
        body += "--" + std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"" +
                name + "\"";
        if (!part.filename.empty())
            body += "; filename=\"" + part.filename + "\"";
        body += "\r\n\r\n" + part.content + "\r\n";
    }
    return body + "--" + std::string(kBoundary) + "--\r\n";
}

void checkUpload(const std::string& body) {
    const auto request = server().serve(multipartRequest(body));
    if (!request)
        return;
    const UploadFields read = uploadFields(request->files);
    const auto bin = request->files.find("BIN");
    check(read.upload.has_value() == (bin != request->files.end()),
          "an upload taken without a file part, or a file part not taken");
    if (read.upload) {
        const auto& first = request->files.lower_bound("BIN")->second;
        check(read.upload->content == first.content && read.upload->fileName == first.filename,
              "an upload other than the first file part");
    }
    check(read.fields.count("BIN") == 0, "a file part taken for a field");
    for (const auto& [name, value] : read.fields)
        check(request->files.lower_bound(name)->second.content == value,
              "an upload field that is not the first part of its name");

    const auto again = multipartBody(request->files);
    if (!again)
        return;
    const auto reread = server().serve(multipartRequest(*again));
    check(reread.has_value(), "an upload written out again was not served");
    const UploadFields back = uploadFields(reread->files);
    check(back.fields == read.fields && back.upload.has_value() == read.upload.has_value() &&
              (!back.upload || (back.upload->content == read.upload->content &&
                                back.upload->fileName == read.upload->fileName)),
          "an upload written out again reads otherwise");
}

std::string formEncoded(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += percentEncoded(c);
    return out;
}

void checkAmount(const std::string& text) {
    const Amount amount = readAmount(text, kMaxCents);
    check((amount.check == AmountCheck::good) == (amount.cents != 0),
          "cents for an amount not taken, or none for one taken");
    const Amount padded = readAmount(" \t" + text + "\t ", kMaxCents);
    check(padded.check == amount.check && padded.cents == amount.cents,
          "blanks around an amount changed its reading");
    if (amount.check != AmountCheck::good)
        return;
    check(amount.cents > 0 && amount.cents <= kMaxCents, "an amount out of bounds taken");
    char money[32];
    std::snprintf(money, sizeof money, "%lld.%02lld", static_cast<long long>(amount.cents / 100),
                  static_cast<long long>(amount.cents % 100));
    const Amount back = readAmount(money, kMaxCents);
    check(back.check == AmountCheck::good && back.cents == amount.cents,
          "an amount's money text reads otherwise");
    check(std::llround(std::strtod(text.c_str(), nullptr) * 100) == amount.cents,
          "an amount other than its number");
}

void checkForm(const std::string& body) {
    const auto fields = formFields(body);
    std::string again;
    for (const auto& [name, value] : fields)
        again += (again.empty() ? "" : "&") + formEncoded(name) + "=" + formEncoded(value);
    check(formFields(again) == fields, "form fields written out again read otherwise");
    for (const auto& [name, value] : fields)
        checkAmount(value);
    checkAmount(body);
}

// UTF-8 as its bit patterns say: a lead byte's high bits give the length, each further byte
// is 10xxxxxx, and the code point is the shortest form's, no surrogate, at most U+10FFFF.
bool decodesAsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t point = lead;
        if ((lead & 0xE0) == 0xC0)
            length = 2, point = lead & 0x1F;
        else if ((lead & 0xF0) == 0xE0)
            length = 3, point = lead & 0x0F;
        else if ((lead & 0xF8) == 0xF0)
            length = 4, point = lead & 0x07;
        else if (lead >= 0x80)
            return false;
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if ((byte & 0xC0) != 0x80)
                return false;
            point = point << 6 | (byte & 0x3F);
        }
        constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if ((length > 1 && point < kLeast[length]) || (point >= 0xD800 && point <= 0xDFFF) ||
            point > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// Line one is a name, the other lines the names taken; the name's first byte picks the format.
void checkNames(const std::string& input) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= input.size();) {
        const auto end = std::min(input.find('\n', at), input.size());
        lines.push_back(input.substr(at, end - at));
        at = end + 1;
    }
    const std::string name = lines.front();
    const std::vector<std::string> taken(lines.begin() + 1, lines.end());
    check(isUtf8(name) == decodesAsUtf8(name), "UTF-8 judged otherwise than decoded");

    const std::string root = rootOf(name);
    const std::string extension = extensionOf(name);
    check(root.find('.') == std::string::npos && name.starts_with(root),
          "a root that is not the name up to its first dot");
    check(name.find('.') == std::string::npos ? extension.empty() : name == root + "." + extension,
          "a name that is not its root, a dot and its extension");
    if (checkFileName(name) != NameCheck::good)
        return;
    check(!root.empty() && extension.size() == 3 && extension.find('.') == std::string::npos,
          "a good name without a root or a three-character extension");
    for (const char c : name)
        check(static_cast<unsigned char>(c) >= 32 && c != '\x7F' && c != '/' && c != '\\' &&
                  c != ':',
              "a good name with a control character or a separator");
    if (fitsUploadName(name))
        check(decodesAsUtf8(name) && root.size() <= kMaxUploadRootBytes,
              "an upload name that is no UTF-8 or has a root too long");

    static const char* const kFormats[] = {"mp3", "wav", "ogg", "aac", "wma"};
    const std::string format = kFormats[static_cast<unsigned char>(name[0]) % 5];
    const std::string audio = audioNameFor(name, format, taken);
    check(checkFileName(audio) == NameCheck::good, "an audio name that is not good");
    check(extensionOf(audio) == format && rootOf(audio).starts_with(root),
          "an audio name not made of the MIDI file's root and the format");
    for (const std::string& other : taken) {
        bool same = other.size() == audio.size();
        for (std::size_t i = 0; same && i < other.size(); ++i)
            same = std::tolower(static_cast<unsigned char>(other[i])) ==
                   std::tolower(static_cast<unsigned char>(audio[i]));
        check(!same, "an audio name that is taken");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t found = kKinds.find(static_cast<char>(data[0]));
    const char kind = found != std::string_view::npos ? kKinds[found] : kKinds[data[0] % 4];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (kind) {
    case 'H':
        checkHead(rest);
        break;
    case 'U':
        checkUpload(rest);
        break;
    case 'F':
        checkForm(rest);
        break;
    default:
        checkNames(rest);
        break;
    }
    return 0;
}
