#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "helpRequests.h"
#include "hhTexts.h"

namespace tonvert {

class Prompts;

// Commands of the viewer's entry point.
inline constexpr unsigned HH_HELP_CONTEXT = 15;
inline constexpr unsigned HH_CLOSE_ALL = 18;

// The viewer's entry point, set when the viewer is loaded: opens `path` for `command` and
// gives the window it shows (null when none).
using HtmlHelpEntry =
    std::function<void*(const std::string& path, unsigned command, std::uintptr_t data)>;

// What the program learns about itself and the help viewer once at start.
struct HelpUnits {
    std::string modulePath;
    std::string moduleDir; // no trailing separator
    std::string moduleName;
    std::string runDir; // no trailing separator
    std::string debugDir;
    bool debug = false;
    bool hhInstalled = false;
    std::string hhVerStr;
    std::string hhFriendlyVerStr;
    bool ieInstalled = false;
    std::string ieVerStr;
    std::string ieFriendlyVerStr;
    // Where the external viewers KeyHH.EXE and HH.EXE would lie; this system has no such
    // folder, so it stays empty.
    std::string windowsFolder;
    HtmlHelpEntry htmlHelp;
};

// The unit state; tests may adjust it.
HelpUnits& helpUnits();

// Our viewer's version, reported where the system's help viewer version would be.
Version helpViewerVersion();

// Records the program's folders, chooses the debug folder, reads the debug flag, probes the
// viewer versions, deletes an old debug file and, when debugging, writes the start dump.
void initHelpUnits(const std::string& programPath);
// Makes `entry` the viewer's entry point; an empty one unloads the viewer.
void loadHelpViewer(HtmlHelpEntry entry);

// The debug log's clock: the local time as broken down by the C library. Empty restores the
// system clock.
using LocalTimeSource = std::function<std::tm()>;
void setDebugLogClock(LocalTimeSource source);

// The debug file, "HHDebug.txt" in the debug folder.
std::string debugFilePath();
// Appends one line to the debug file (see the unit's notes in the source).
void debugLog(const std::string& text);
// printf-style text.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens a topic of a help file through the chosen mode; gives 0 success, 1 viewer not
// installed (or the help file unreadable), 2 KeyHH.EXE missing, 3 HH.EXE missing.
int HHHelpContext(Prompts& prompts, const std::string& file, long context,
                  const std::string& window, int mode);
int ShowContext(Prompts& prompts, const std::string& path, long context, int mode);
// The warning for a non-zero result code of HHHelpContext.
void HHShowError(Prompts& prompts, int code);
// Starts an external viewer; on failure warns with the system's error and gives false.
bool ShellStart(Prompts& prompts, const std::string& file,
                const std::vector<std::string>& parameters);

// Takes over the application's help requests while it lives and shows the manual's topics.
class THookHelpSystem {
public:
    struct Point {
        int x = 0;
        int y = 0;
    };

    // mode: 0 our viewer, 1 KeyHH.EXE, 2 HH.EXE, anything else shows nothing.
    THookHelpSystem(std::string chmFile, std::string windowName, std::uint8_t mode,
                    Prompts& prompts);
    ~THookHelpSystem();
    THookHelpSystem(const THookHelpSystem&) = delete;
    THookHelpSystem& operator=(const THookHelpSystem&) = delete;

    // The application's help handler; always answers true.
    bool HelpHook(int command, long data, bool& callHelp);

    // When set, they replace the built-in display of topics and pop-up topics.
    std::function<void(long context)> onContextHelp;
    std::function<void(long context, Point position)> onPopupHelp;

    Point popupPosition() const { return popup_; }
    const std::string& chmFile() const { return chmFile_; }

private:
    void showTopic(long context);

    HelpHandler previous_;
    std::string chmFile_;
    std::string windowName_;
    std::uint8_t mode_;
    Prompts& prompts_;
    Point popup_;
};

} // namespace tonvert
