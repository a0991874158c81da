#include "hh_funcs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "chmArchive.h"
#include "processStart.h"
#include "prompts.h"

namespace tonvert {

namespace fs = std::filesystem;

HelpUnits& helpUnits() {
    static HelpUnits units;
    return units;
}

// The viewer is this program's own, so it reports the program's version. Below 1.0 the
// release table honestly names it "< 1.0": it shows topics, contents and a plain search, not
// everything a 1.x viewer offers.
Version helpViewerVersion() {
    return {TONVERT_VERSION_MAJOR, TONVERT_VERSION_MINOR, TONVERT_VERSION_PATCH, 0};
}

namespace {

LocalTimeSource& logClock() {
    static LocalTimeSource source;
    return source;
}

std::tm localNow() {
    if (logClock())
        return logClock()();
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return parts;
}

std::string timeText(const char* format) {
    const std::tm parts = localNow();
    char text[64];
    const auto length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

std::string withoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// Whether a file can be created (and removed again) in the folder.
// A folder not known (an empty path) is not taken for the current or the root folder.
bool canCreateFileIn(const std::string& folder) {
    if (folder.empty())
        return false;
    const std::string probe = folder + "/$_Temp_$.$$$";
    const int fd =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return std::remove(probe.c_str()) == 0;
}

std::string chooseDebugDir(const std::string& moduleDir) {
    if (canCreateFileIn(moduleDir))
        return moduleDir;
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    if (!error && fs::is_directory(temp, error))
        return withoutTrailingSeparator(temp.string());
    // No folder to write the log in: there will be none.
    return "";
}

std::string yesNo(bool flag) {
    return flag ? "YES" : "NO";
}

template <typename... Args> void logIfDebugging(const char* format, Args... args) {
    if (helpUnits().debug)
        debugLog(formatText(format, args...));
}

void logIfDebugging(const std::string& text) {
    if (helpUnits().debug)
        debugLog(text);
}

// Windows locale ids have no counterpart in the C library's locales, so the dump prints the
// neutral id 0x0000 (no language, no sub-language) rather than an invented mapping.
constexpr const char* kNeutralLocaleId = "\t0x0000";

void writeStartDump(const HelpUnits& u) {
    debugLog("!Filename:             \t" + debugFilePath());
    debugLog("!Date:                 \t" + timeText("%Y-%m-%d %H:%M:%S"));
    debugLog(std::string("!SysLocale.DefaultLCID: ") + kNeutralLocaleId);
    debugLog(std::string("!SysLocale.PriLangID:   ") + kNeutralLocaleId);
    debugLog(std::string("!SysLocale.SubLangID:   ") + kNeutralLocaleId);
    const std::lconv* numbers = std::localeconv();
    debugLog(std::string("!DecimalSeparator:      \t") + numbers->decimal_point);
    debugLog("-");
    debugLog("!EXE Path =          \t" + u.modulePath);
    debugLog("!_RunDir =           \t" + u.runDir);
    debugLog("!_ModuleName =       \t" + u.moduleName);
    debugLog("!_ModuleDir =        \t" + u.moduleDir);
    debugLog("-");
    debugLog("!_hhInstalled =      \t" + yesNo(u.hhInstalled));
    debugLog("!_hhVerStr =         \t" + u.hhVerStr);
    debugLog("!_hhFriendlyVerStr = \t" + u.hhFriendlyVerStr);
    debugLog("!_ieInstalled =      \t" + yesNo(u.ieInstalled));
    debugLog("!_ieVerStr =         \t" + u.ieVerStr);
    debugLog("!_ieFriendlyVerStr = \t" + u.ieFriendlyVerStr);
}

} // namespace

void initHelpUnits(const std::string& programPath) {
    HelpUnits& u = helpUnits();
    const fs::path program(programPath);
    u.modulePath = programPath;
    u.moduleDir = withoutTrailingSeparator(program.parent_path().string());
    u.moduleName = program.filename().string();
    u.runDir = u.moduleDir;
    u.debugDir = chooseDebugDir(u.moduleDir);
    std::error_code error;
    u.debug = !u.moduleDir.empty() && fs::exists(fs::path(u.moduleDir) / "debug.debug", error);

    u.hhVerStr = versionText(helpViewerVersion());
    u.hhInstalled = !u.hhVerStr.empty();
    u.hhFriendlyVerStr = u.hhInstalled ? friendlyHelpViewerVersion(helpViewerVersion()) : "";
    // No web browser control is part of this program: nothing to probe.
    u.ieVerStr.clear();
    u.ieInstalled = false;
    u.ieFriendlyVerStr.clear();

    fs::remove(debugFilePath(), error);
    if (u.debug)
        writeStartDump(u);
}

void loadHelpViewer(HtmlHelpEntry entry) {
    helpUnits().htmlHelp = std::move(entry);
}

void setDebugLogClock(LocalTimeSource source) {
    logClock() = std::move(source);
}

std::string debugFilePath() {
    const std::string& dir = helpUnits().debugDir;
    if (dir.empty())
        return "";
    return (dir.back() == '/' ? dir : dir + "/") + "HHDebug.txt";
}

// One line per call: "-" or "=" alone draw a rule of 80; a leading "!", "-" or "=" is
// dropped and the line carries no time; any other line ends with three blanks and the time.
void debugLog(const std::string& text) {
    std::string line = text;
    if (line == "-" || line == "=")
        line = std::string(80, line[0]);
    if (!line.empty() && (line[0] == '!' || line[0] == '-' || line[0] == '='))
        line.erase(0, 1);
    else
        line += "   " + timeText("%H:%M:%S");
    line += '\n';
    // The log may lie in the shared temporary folder: never follow a link planted there, and
    // write only into a plain file of the user's own.
    const int fd = ::open(debugFilePath().c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
        [[maybe_unused]]
        const auto written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

int HHHelpContext(Prompts& prompts, const std::string& file, long context,
                  const std::string& window, int mode) {
    logIfDebugging("HHHelpContext(\"%s\", %ld, \"%s\", %d)", file.c_str(), context, window.c_str(),
                   mode);
    const std::string path = helpPath(file, {}, window, mode == 2 ? kMsitStorePrefix : "");
    return ShowContext(prompts, path, context, mode);
}

int ShowContext(Prompts& prompts, const std::string& path, long context, int mode) {
    logIfDebugging("ShowContext(\"%s\", %ld)", path.c_str(), context);
    const HelpUnits& u = helpUnits();
    int result = 0;
    const auto external = [&](const char* program) {
        return u.windowsFolder.empty() ? std::string() : u.windowsFolder + "/" + program;
    };
    std::error_code error;
    if (!u.hhInstalled || !u.htmlHelp) {
        result = 1;
    } else if (mode == 0) {
        // Our viewer reads the file itself: one it cannot open means no viewer for it. The
        // viewer brings its window to the front.
        if (!helpFileReadable(splitHelpPath(path).file))
            result = 1;
        else
            u.htmlHelp(path, HH_HELP_CONTEXT, static_cast<std::uintptr_t>(context));
    } else if (mode == 1) {
        const std::string keyHH = external("KeyHH.EXE");
        if (!keyHH.empty() && fs::exists(keyHH, error))
            ShellStart(prompts, keyHH, {"-win", "-#mapid", std::to_string(context), path});
        else
            result = 2;
    } else if (mode == 2) {
        const std::string hh = external("HH.EXE");
        if (!hh.empty() && fs::exists(hh, error))
            ShellStart(prompts, hh, {"-mapid", std::to_string(context), path});
        else
            result = 3;
    }
    logIfDebugging("  returned - %d", result);
    return result;
}

void HHShowError(Prompts& prompts, int code) {
    if (code == 0)
        return;
    const std::string text = helpErrorText(code);
    prompts.show(PromptKind::warning, {}, text, PromptButtons::ok);
    logIfDebugging("HHShowError(%d), \"%s\"", code, text.c_str());
}

bool ShellStart(Prompts& prompts, const std::string& file,
                const std::vector<std::string>& parameters) {
    const int error = startDetachedProgram(file, parameters);
    if (error == 0)
        return true;
    std::string call = file + ",";
    for (const auto& parameter : parameters)
        call += " " + parameter;
    const std::string text = formatText("Function ShellExecute(%s)\rReturned: %s", call.c_str(),
                                        shellErrorText(error).c_str());
    prompts.show(PromptKind::warning, {}, text, PromptButtons::ok);
    logIfDebugging(text);
    return false;
}

THookHelpSystem::THookHelpSystem(std::string chmFile, std::string windowName, std::uint8_t mode,
                                 Prompts& prompts)
    : chmFile_(std::move(chmFile))
    , windowName_(std::move(windowName))
    , mode_(mode)
    , prompts_(prompts) {
    previous_ = installHelpHandler([this](int command, long data, bool& callHelp) {
        return HelpHook(command, data, callHelp);
    });
    logIfDebugging("THookHelpSystem.Create(\"%s\",\"%s\", %d)", chmFile_.c_str(),
                   windowName_.c_str(), static_cast<int>(mode_));
}

THookHelpSystem::~THookHelpSystem() {
    if (mode_ == 0 && helpUnits().htmlHelp)
        helpUnits().htmlHelp({}, HH_CLOSE_ALL, 0);
    installHelpHandler(std::move(previous_));
    logIfDebugging(std::string("THookHelpSystem.Destroy"));
}

bool THookHelpSystem::HelpHook(int command, long data, bool& callHelp) {
    if (helpUnits().debug) {
        const std::string name =
            std::to_string(command) + " (" + helpCommandName(static_cast<unsigned>(command)) + ")";
        debugLog(formatText("THookHelpSystem.HelpHook(%s, %ld)", name.c_str(), data));
    }
    switch (command) {
    case kHelpContext:
        callHelp = false;
        if (onContextHelp)
            onContextHelp(data);
        else
            showTopic(data);
        break;
    case kHelpContextPopup:
        callHelp = false;
        if (onPopupHelp)
            onPopupHelp(data, popup_);
        else
            showTopic(data);
        break;
    case kHelpSetPopupPos: {
        callHelp = false;
        // The low half is x, the high half y; signed, for screens left of or above the
        // primary one.
        const auto bits = static_cast<unsigned long>(data);
        popup_.x = static_cast<std::int16_t>(bits & 0xFFFF);
        popup_.y = static_cast<std::int16_t>((bits >> 16) & 0xFFFF);
        break;
    }
    default:
        callHelp = true;
        break;
    }
    return true;
}

void THookHelpSystem::showTopic(long context) {
    HHShowError(prompts_, HHHelpContext(prompts_, chmFile_, context, windowName_, mode_));
}

} // namespace tonvert
