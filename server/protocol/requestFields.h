#pragma once

#include <cstdint>
#include <httplib.h>
#include <map>
#include <optional>
#include <string>

namespace tonvert::service {

// The fields of requests as the routes take them, read from what the HTTP library parsed or
// from a body as it came: no sockets, no store.

// The file part of an upload.
struct UploadedFile {
    std::string fileName;
    std::string content;
};

// Where every request of the client goes.
inline constexpr const char* kScriptPath = "/cgi-bin/wmn.pl";

// One field of a request of the script, from its query or its upload's parts (the first of a
// repeated name); "" when it has none.
std::string clientField(const httplib::Request& request, const std::string& name);

// The fields of a GET of the script, from its query; the first of a repeated name counts.
std::map<std::string, std::string> queryFields(const httplib::Params& params);

// The fields of a POST of the script, from the parts of its multipart body: the first part
// named BIN is the uploaded file, later ones are dropped; of any other repeated name the first
// part counts.
struct UploadFields {
    std::map<std::string, std::string> fields;
    std::optional<UploadedFile> upload;
};
UploadFields uploadFields(const httplib::MultipartFormDataMap& parts);

// The fields of a form as a browser sends it (application/x-www-form-urlencoded); the first
// of a repeated name counts.
std::map<std::string, std::string> formFields(const std::string& body);

// An amount as a person types it: "2.50", "2.5", "2" or ".5", in currency units.
enum class AmountCheck { good, notAnAmount, notPositive, tooLarge };
struct Amount {
    AmountCheck check = AmountCheck::notAnAmount;
    std::int64_t cents = 0;
};
Amount readAmount(const std::string& text, std::int64_t maxCents);

} // namespace tonvert::service
