#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tonvert {

class ConnectionState;
class MessagePump;
class Prompts;
class Shell;
class Clock;
class TNet;

// What the windows reach the desktop and the system through; tests pass their own.
struct Seams {
    Prompts& prompts;
    Shell& shell;
    ConnectionState& connection;
    MessagePump& pump;
    Clock& clock;
};

// Where the reference service lives; kept in the settings file's "Service" section.
struct ServiceSettings {
    std::string host = "tonvert.localhost:8080";
    std::string supportEmail = "support@tonvert.localhost";
};

// What every command of the main window shares, and what its dialogs receive.
struct MainState {
    // Folders end in the path separator; file names are appended to them directly.
    std::string programFolder;
    std::string midiFolder;
    std::string audioFolder;
    std::string tempFolder;
    std::string userID;
    std::string password;
    std::string testURL;
    ServiceSettings service;
    // The connection settings and the one transfer at a time.
    std::unique_ptr<TNet> net;

    // Service requests waiting for their replies. While one waits no other may start: the
    // commands that send requests are disabled, and told again when it is over.
    int requestsWaiting = 0;
    std::function<void()> requestsChanged;

    // Setup's "Download finished audio automatically", kept in the settings file: audio files
    // that appear online are downloaded as they come.
    bool autoDownload = false;

    bool hasCredentials() const { return !userID.empty() && !password.empty(); }
    bool requestWaiting() const { return requestsWaiting > 0; }
};

} // namespace tonvert
