#include "serviceRequests.h"

#include "netMessages.h"

namespace tonvert {

namespace {

const char* const kLanguageAndVersion = "?LNG=us&VER=1.0&UID=";

} // namespace

std::string serviceWebUrl(const std::string& host, const std::string& page) {
    return "http://" + host + "/" + page;
}

std::string serviceScriptUrl(const std::string& host) {
    return "http://" + host + "/cgi-bin/wmn.pl";
}

std::string serviceRequestUrl(const std::string& host, const std::string& userID,
                              const std::string& password, const std::string& command) {
    return serviceScriptUrl(host) + kLanguageAndVersion + urlEncode(userID) +
           "&PWD=" + urlEncode(password) + "&CMD=" + command;
}

std::string serviceRequestUrl(const std::string& host, const std::string& userID,
                              const std::string& password, const std::string& command,
                              const std::string& fileValue) {
    return serviceRequestUrl(host, userID, password, command) + "&FNM=" + fileValue;
}

std::string signupRequestUrl(const std::string& host, const std::string& userID) {
    return serviceScriptUrl(host) + kLanguageAndVersion + urlEncode(userID) +
           "&CMD=" + kSignupCommand;
}

std::string audioDownloadUrlPrefix(const std::string& host, const std::string& userID,
                                   const std::string& password) {
    return serviceRequestUrl(host, userID, password, kGetAudioCommand, "");
}

std::vector<std::string> uploadFormFields(const std::string& userID, const std::string& password,
                                          const std::string& parameters,
                                          const std::string& fileName) {
    return {"UID=" + userID,
            "PWD=" + password,
            "LNG=us",
            "VER=1.0",
            std::string("CMD=") + kSubmitMidiCommand,
            "PRM=" + parameters,
            "FNM=" + fileName};
}

UploadRequest midiUploadRequest(const ServiceAccount& account, const std::string& path,
                                const std::string& parameters) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return {serviceScriptUrl(account.host),
            path,
            kUploadFilePart,
            name,
            uploadFormFields(account.userID, account.password, parameters, name),
            {}};
}

std::string audioDownloadUrl(const ServiceAccount& account, const std::string& fileName) {
    return audioDownloadUrlPrefix(account.host, account.userID, account.password) +
           urlEncode(fileName);
}

} // namespace tonvert
