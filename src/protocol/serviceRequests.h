#pragma once

#include <string>
#include <vector>

#include "netUnit.h"

namespace tonvert {

// Command names of the service script, sent as "CMD=" + name.
inline constexpr const char* kListMidiCommand = "listmidi";
inline constexpr const char* kDeleteMidiCommand = "delmidi";
inline constexpr const char* kListAudioCommand = "listaudio";
inline constexpr const char* kDeleteAudioCommand = "delaudio";
inline constexpr const char* kGetAudioCommand = "getaudio";
inline constexpr const char* kSignupCommand = "signup";
inline constexpr const char* kConfirmCommand = "confirm";
inline constexpr const char* kGetNewPasswordCommand = "getnewpwd";
inline constexpr const char* kViewFundsCommand = "viewfunds";
inline constexpr const char* kViewPricesCommand = "viewprices";
inline constexpr const char* kSubmitMidiCommand = "submitmidi";

// The form-field name of the MIDI file's part in an upload.
inline constexpr const char* kUploadFilePart = "BIN";

// The one script every request goes to: "http://" + host + "/cgi-bin/wmn.pl".
std::string serviceScriptUrl(const std::string& host);

// A page of the service's web site: "http://" + host + "/" + page ("" for the home page).
std::string serviceWebUrl(const std::string& host, const std::string& page);

// A GET request: the script with language, version, the encoded user ID and password and
// the command. The overload with `fileValue` adds "&FNM=" + fileValue; the command and the
// file value go out as given (a record number, or a name the caller has made safe).
std::string serviceRequestUrl(const std::string& host, const std::string& userID,
                              const std::string& password, const std::string& command);
std::string serviceRequestUrl(const std::string& host, const std::string& userID,
                              const std::string& password, const std::string& command,
                              const std::string& fileValue);

// The sign-up request: like the others but without a password item.
std::string signupRequestUrl(const std::string& host, const std::string& userID);

// The audio download request up to and including "CMD=getaudio&FNM="; the download appends
// urlEncode(name + "." + type) of each file it fetches.
std::string audioDownloadUrlPrefix(const std::string& host, const std::string& userID,
                                   const std::string& password);

// The "name=value" form fields of a MIDI upload, in the order they are sent; values are not
// encoded. `fileName` is the MIDI file's name without its folder.
std::vector<std::string> uploadFormFields(const std::string& userID, const std::string& password,
                                          const std::string& parameters,
                                          const std::string& fileName);

// The account a transfer acts for, and the service's host.
struct ServiceAccount {
    std::string host;
    std::string userID;
    std::string password;
};

// MIDI files to send, as the upload command gathers them; the preset is the dialog's pick.
struct UploadJob {
    ServiceAccount account;
    std::vector<std::string> midiFiles; // full paths, in upload order
    int totalPlayTime = 0;              // seconds, of all the files together
};

// Rendered audio files to fetch, as the download command names them.
struct DownloadJob {
    ServiceAccount account;
    std::vector<std::string> audioFiles; // "name.ext", no folder, in the order to fetch them
    std::string targetFolder;            // ends in the path separator
};

// The POST of one MIDI file (a full path) with the preset's parameters.
UploadRequest midiUploadRequest(const ServiceAccount& account, const std::string& path,
                                const std::string& parameters);

// The request for one audio file: audioDownloadUrlPrefix + urlEncode(fileName).
std::string audioDownloadUrl(const ServiceAccount& account, const std::string& fileName);

} // namespace tonvert
