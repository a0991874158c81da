#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "chmArchive.h"
#include "hh_funcs.h"
#include "prompts.h"
#include "testFiles.h"

using namespace tonvert;
using test::TempFolder;

namespace fs = std::filesystem;

namespace {

class NotedPrompts : public Prompts {
public:
    PromptAnswer show(PromptKind kind, const std::string&, const std::string& text,
                      PromptButtons buttons) override {
        EXPECT_EQ(kind, PromptKind::warning);
        EXPECT_EQ(buttons, PromptButtons::ok);
        texts.push_back(text);
        return PromptAnswer::ok;
    }
    std::vector<std::string> texts;
};

struct ViewerCall {
    std::string path;
    unsigned command;
    std::uintptr_t data;
};

std::tm fixedTime() {
    std::tm parts{};
    parts.tm_year = 125;
    parts.tm_mon = 11;
    parts.tm_mday = 9;
    parts.tm_hour = 14;
    parts.tm_min = 5;
    parts.tm_sec = 9;
    return parts;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string folderOf(const TempFolder& folder) {
    std::string path = folder.path();
    path.pop_back();
    return path;
}

// Every test starts from a program in a fresh folder, a fixed clock, no viewer loaded.
class HelpUnitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDebugLogClock(fixedTime);
        helpUnits().windowsFolder.clear();
        loadHelpViewer({});
    }
    void TearDown() override {
        setDebugLogClock({});
        helpUnits().debug = false;
        helpUnits().windowsFolder.clear();
        loadHelpViewer({});
    }
    // The fake viewer entry: records its calls and gives a window.
    void loadRecordingViewer() {
        loadHelpViewer([this](const std::string& path, unsigned command, std::uintptr_t data) {
            viewerCalls.push_back({path, command, data});
            return static_cast<void*>(this);
        });
    }

    TempFolder module;
    std::vector<ViewerCall> viewerCalls;
    NotedPrompts prompts;
};

} // namespace

TEST_F(HelpUnitsTest, StartRecordsFoldersAndVersionsAndDeletesAnOldLog) {
    test::writeBytes(module.file("HHDebug.txt"), "old\n");
    initHelpUnits(module.file("tonvert"));
    const HelpUnits& u = helpUnits();
    EXPECT_EQ(u.modulePath, module.file("tonvert"));
    EXPECT_EQ(u.moduleDir, folderOf(module));
    EXPECT_EQ(u.runDir, folderOf(module));
    EXPECT_EQ(u.moduleName, "tonvert");
    EXPECT_EQ(u.debugDir, folderOf(module));
    EXPECT_FALSE(u.debug);
    EXPECT_FALSE(fs::exists(module.file("HHDebug.txt")));
    EXPECT_FALSE(fs::exists(module.file("$_Temp_$.$$$")));
    // Our own viewer, of a version far below the first release the table names.
    EXPECT_TRUE(u.hhInstalled);
    EXPECT_EQ(u.hhVerStr, versionText(helpViewerVersion()));
    EXPECT_EQ(u.hhFriendlyVerStr, "< 1.0");
    EXPECT_FALSE(u.ieInstalled);
    EXPECT_EQ(u.ieVerStr, "");
    EXPECT_EQ(u.ieFriendlyVerStr, "");
}

TEST_F(HelpUnitsTest, DebugFlagWritesTheStartDump) {
    test::writeBytes(module.file("debug.debug"), "");
    test::writeBytes(module.file("HHDebug.txt"), "a line of an old run\n");
    initHelpUnits(module.file("tonvert"));
    ASSERT_TRUE(helpUnits().debug);
    const auto lines = linesOf(module.file("HHDebug.txt"));
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], "Filename:             \t" + module.file("HHDebug.txt"));
    EXPECT_EQ(lines[1], "Date:                 \t2025-12-09 14:05:09");
    EXPECT_EQ(lines[2], "SysLocale.DefaultLCID: \t0x0000");
    EXPECT_EQ(lines[3], "SysLocale.PriLangID:   \t0x0000");
    EXPECT_EQ(lines[4], "SysLocale.SubLangID:   \t0x0000");
    EXPECT_EQ(lines[5].rfind("DecimalSeparator:      \t", 0), 0u);
    EXPECT_EQ(lines[6], std::string(79, '-'));
    EXPECT_EQ(lines[7], "EXE Path =          \t" + module.file("tonvert"));
    EXPECT_EQ(lines[8], "_RunDir =           \t" + folderOf(module));
    EXPECT_EQ(lines[9], "_ModuleName =       \ttonvert");
    EXPECT_EQ(lines[10], "_ModuleDir =        \t" + folderOf(module));
    EXPECT_EQ(lines[11], std::string(79, '-'));
    EXPECT_EQ(lines[12], "_hhInstalled =      \tYES");
    EXPECT_EQ(lines[13], "_hhVerStr =         \t" + helpUnits().hhVerStr);
    EXPECT_EQ(lines[14], "_hhFriendlyVerStr = \t< 1.0");
    EXPECT_EQ(lines[15], "_ieInstalled =      \tNO");
    EXPECT_EQ(lines[16], "_ieVerStr =         \t");
    EXPECT_EQ(lines[17], "_ieFriendlyVerStr = \t");
}

TEST_F(HelpUnitsTest, DebugLogLines) {
    initHelpUnits(module.file("tonvert"));
    debugLog("ShowContext(\"x\", 1100)");
    debugLog("");
    debugLog("-");
    debugLog("=");
    debugLog("!raw text");
    debugLog("-dash kept");
    debugLog("=equals kept");
    debugLog(formatText("HHShowError(%d), \"%s\"", 3, "text"));
    const auto lines = linesOf(module.file("HHDebug.txt"));
    const std::vector<std::string> expected{
        "ShowContext(\"x\", 1100)   14:05:09",
        "   14:05:09",
        // A rule of 80 whose first character is dropped like any leading "-" or "=".
        std::string(79, '-'),
        std::string(79, '='),
        "raw text",
        "dash kept",
        "equals kept",
        "HHShowError(3), \"text\"   14:05:09",
    };
    EXPECT_EQ(lines, expected);

    // A folder that cannot be written to: nothing happens.
    helpUnits().debugDir = module.file("missing/deeper");
    debugLog("lost");
    EXPECT_FALSE(fs::exists(module.file("missing")));
}

TEST_F(HelpUnitsTest, UnwritableProgramFolderPutsTheLogIntoTheTemporaryFolder) {
    TempFolder temp;
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
    setenv("TMPDIR", temp.path().c_str(), 1);
    // A program "folder" that is a file, and one that does not exist: the probe file cannot
    // be created in either (root may write anywhere else).
    test::writeBytes(module.file("plainFile"), "");
    for (const std::string& program :
         {module.file("plainFile/tonvert"), module.file("gone/tonvert")}) {
        test::writeBytes(temp.file("HHDebug.txt"), "old\n");
        initHelpUnits(program);
        EXPECT_EQ(helpUnits().debugDir, folderOf(temp)) << program;
        EXPECT_FALSE(fs::exists(temp.file("HHDebug.txt"))) << program;
        debugLog("!into the temporary folder");
        EXPECT_EQ(linesOf(temp.file("HHDebug.txt")),
                  std::vector<std::string>{"into the temporary folder"});
    }
    if (oldTmp != nullptr)
        setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST_F(HelpUnitsTest, HookIsInstalledForItsLifeAndRestoresThePreviousHandler) {
    initHelpUnits(module.file("tonvert"));
    installHelpHandler({});
    EXPECT_FALSE(requestHelp(kHelpContext, 1100));

    std::vector<std::string> earlier;
    const HelpHandler before = [&](int command, long data, bool& callHelp) {
        earlier.push_back(std::to_string(command) + ":" + std::to_string(data) +
                          (callHelp ? " default" : ""));
        return false;
    };
    EXPECT_FALSE(installHelpHandler(before));
    EXPECT_FALSE(requestHelp(kHelpContext, 1100));
    {
        THookHelpSystem hook("/none/manual.chm", "", 0, prompts);
        std::vector<long> contexts;
        hook.onContextHelp = [&](long context) { contexts.push_back(context); };
        EXPECT_TRUE(requestHelp(kHelpContext, 1200));
        EXPECT_TRUE(requestHelp(3, 0));
        EXPECT_EQ(contexts, std::vector<long>{1200});
    }
    EXPECT_FALSE(requestHelp(kHelpContext, 1100));
    EXPECT_EQ(earlier, (std::vector<std::string>{"1:1100 default", "1:1100 default"}));
    installHelpHandler({});
}

TEST_F(HelpUnitsTest, HookRoutesEachCommand) {
    initHelpUnits(module.file("tonvert"));
    THookHelpSystem hook("/none/manual.chm", "", 0, prompts);
    std::vector<long> contexts;
    std::vector<std::string> popups;
    hook.onContextHelp = [&](long context) { contexts.push_back(context); };
    hook.onPopupHelp = [&](long context, THookHelpSystem::Point at) {
        popups.push_back(std::to_string(context) + "@" + std::to_string(at.x) + "," +
                         std::to_string(at.y));
    };
    bool callHelp = true;
    EXPECT_TRUE(hook.HelpHook(1, 1100, callHelp));
    EXPECT_FALSE(callHelp);
    EXPECT_EQ(contexts, std::vector<long>{1100});

    callHelp = true;
    EXPECT_TRUE(hook.HelpHook(13, (300L << 16) | 0xFFF6, callHelp));
    EXPECT_FALSE(callHelp);
    EXPECT_EQ(hook.popupPosition().x, -10);
    EXPECT_EQ(hook.popupPosition().y, 300);
    callHelp = true;
    EXPECT_TRUE(hook.HelpHook(8, 1200, callHelp));
    EXPECT_FALSE(callHelp);
    EXPECT_EQ(popups, std::vector<std::string>{"1200@-10,300"});

    for (int other : {2, 3, 4, 5, 9, 10, 11, 12, 257, 258, 261, 513, 515, 99}) {
        callHelp = false;
        EXPECT_TRUE(hook.HelpHook(other, 5, callHelp)) << other;
        EXPECT_TRUE(callHelp) << other;
    }
    EXPECT_EQ(contexts.size(), 1u);
    EXPECT_EQ(popups.size(), 1u);
    EXPECT_TRUE(prompts.texts.empty());
}

TEST_F(HelpUnitsTest, BuiltInDisplayWithoutViewerWarnsAndLogsEveryStep) {
    test::writeBytes(module.file("debug.debug"), "");
    initHelpUnits(module.file("tonvert"));
    const std::string dumpEnd = "_ieFriendlyVerStr = \t";
    {
        THookHelpSystem hook("/none/my%20manual.chm", "", 0, prompts);
        bool callHelp = true;
        hook.HelpHook(1, 1100, callHelp);
        hook.HelpHook(8, 1200, callHelp);
        hook.HelpHook(258, 7, callHelp);
    }
    const std::string missing = "MS Html Help is not installed on this PC.";
    EXPECT_EQ(prompts.texts, (std::vector<std::string>{missing, missing}));
    auto lines = linesOf(module.file("HHDebug.txt"));
    ASSERT_GE(lines.size(), 18u);
    EXPECT_EQ(lines[17], dumpEnd);
    lines.erase(lines.begin(), lines.begin() + 18);
    const std::vector<std::string> expected{
        "THookHelpSystem.Create(\"/none/my%20manual.chm\",\"\", 0)   14:05:09",
        "THookHelpSystem.HelpHook(1 (HELP_CONTEXT), 1100)   14:05:09",
        "HHHelpContext(\"/none/my%20manual.chm\", 1100, \"\", 0)   14:05:09",
        "ShowContext(\"/none/my manual.chm\", 1100)   14:05:09",
        "  returned - 1   14:05:09",
        "HHShowError(1), \"" + missing + "\"   14:05:09",
        "THookHelpSystem.HelpHook(8 (HELP_CONTEXTPOPUP), 1200)   14:05:09",
        "HHHelpContext(\"/none/my%20manual.chm\", 1200, \"\", 0)   14:05:09",
        "ShowContext(\"/none/my manual.chm\", 1200)   14:05:09",
        "  returned - 1   14:05:09",
        "HHShowError(1), \"" + missing + "\"   14:05:09",
        "THookHelpSystem.HelpHook(258 (HELP_COMMAND), 7)   14:05:09",
        "THookHelpSystem.Destroy   14:05:09",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(HelpUnitsTest, ModeZeroOpensOurViewerOnReadableFilesOnly) {
    initHelpUnits(module.file("tonvert"));
    loadRecordingViewer();
    fs::create_directories(module.file("My Help"));
    fs::copy_file(TONVERT_TEST_MANUAL, module.file("My Help/manual.chm"));
    const std::string spaced = module.path() + "My%20Help/manual.chm%20";
    EXPECT_EQ(HHHelpContext(prompts, spaced, 1200, "", 0), 0);
    ASSERT_EQ(viewerCalls.size(), 1u);
    EXPECT_EQ(viewerCalls[0].path, module.file("My Help/manual.chm"));
    EXPECT_EQ(viewerCalls[0].command, HH_HELP_CONTEXT);
    EXPECT_EQ(viewerCalls[0].data, 1200u);
    EXPECT_EQ(HHHelpContext(prompts, spaced, 1100, "Main", 0), 0);
    EXPECT_EQ(viewerCalls.back().path, module.file("My Help/manual.chm") + ">Main");

    // A missing file and one that is no compiled help file count as no viewer.
    test::writeBytes(module.file("fake.chm"), "not a help file");
    EXPECT_EQ(HHHelpContext(prompts, module.file("absent.chm"), 1100, "", 0), 1);
    EXPECT_EQ(HHHelpContext(prompts, module.file("fake.chm"), 1100, "", 0), 1);
    EXPECT_EQ(viewerCalls.size(), 2u);

    // Other modes never touch the viewer; unknown modes show nothing and succeed.
    EXPECT_EQ(HHHelpContext(prompts, module.file("My Help/manual.chm"), 1100, "", 7), 0);
    EXPECT_EQ(viewerCalls.size(), 2u);

    // The hook in mode 0 closes the viewer's windows when it goes; in mode 1 it leaves them.
    { THookHelpSystem hook(module.file("My Help/manual.chm"), "", 1, prompts); }
    EXPECT_EQ(viewerCalls.size(), 2u);
    { THookHelpSystem hook(module.file("My Help/manual.chm"), "", 0, prompts); }
    ASSERT_EQ(viewerCalls.size(), 3u);
    EXPECT_EQ(viewerCalls[2].command, HH_CLOSE_ALL);
    EXPECT_TRUE(prompts.texts.empty());
}

TEST_F(HelpUnitsTest, ExternalViewersNeedTheWindowsFolder) {
    initHelpUnits(module.file("tonvert"));
    loadRecordingViewer();
    const std::string manual = TONVERT_TEST_MANUAL;
    // This system has no Windows folder: neither external viewer is there.
    {
        THookHelpSystem keyHH(manual, "", 1, prompts);
        bool callHelp = true;
        keyHH.HelpHook(1, 1100, callHelp);
        THookHelpSystem hh(manual, "", 2, prompts);
        hh.HelpHook(1, 1100, callHelp);
    }
    EXPECT_EQ(prompts.texts, (std::vector<std::string>{
                                 "System file KeyHH.EXE was not found in the Windows folder.",
                                 "System file HH.EXE was not found in the Windows folder."}));
    EXPECT_TRUE(viewerCalls.empty());

    // Given a folder with HH.EXE, it is started with the topic's parameters.
    prompts.texts.clear();
    helpUnits().windowsFolder = folderOf(module);
    const std::string fifo = module.file("arguments");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test::writeBytes(module.file("HH.EXE"), "#!/bin/sh\nprintf '%s|' \"$@\" > '" + fifo + "'\n");
    fs::permissions(module.file("HH.EXE"), fs::perms::owner_all);
    EXPECT_EQ(HHHelpContext(prompts, manual, 1200, "", 2), 0);
    ASSERT_TRUE(prompts.texts.empty());
    EXPECT_EQ(test::readBytes(fifo), "-mapid|1200|mk:@MSITStore:" + manual + "|");
    // KeyHH.EXE is still missing there.
    EXPECT_EQ(HHHelpContext(prompts, manual, 1200, "", 1), 2);

    // A program that cannot be started is reported with the system's error.
    EXPECT_FALSE(ShellStart(prompts, module.file("none/HH.EXE"), {"-mapid", "5", "x.chm"}));
    EXPECT_EQ(prompts.texts,
              std::vector<std::string>{"Function ShellExecute(" + module.file("none/HH.EXE") +
                                       ", -mapid 5 x.chm)\rReturned: [Error:2] File Not Found"});
}

TEST(ChmArchive, MapContentsAndPages) {
    ChmArchive archive(TONVERT_TEST_MANUAL);
    ASSERT_TRUE(archive.isOpen());
    EXPECT_EQ(archive.topicOfContext(1100), "/main.htm");
    EXPECT_EQ(archive.topicOfContext(1200), "/network.htm");
    EXPECT_EQ(archive.topicOfContext(1300), "");
    EXPECT_EQ(archive.contentsFile(), "/contents.hhc");
    const auto& files = archive.files();
    for (const char* page :
         {"/main.htm", "/network.htm", "/topics/upload.htm", "/styles.css", "/images/dot.png"})
        EXPECT_NE(std::find(files.begin(), files.end(), page), files.end()) << page;
    std::string bytes;
    ASSERT_TRUE(archive.read("/images/dot.png", bytes));
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_FALSE(archive.read("/nothing.htm", bytes));

    std::string sitemap;
    ASSERT_TRUE(archive.read(archive.contentsFile(), sitemap));
    const auto entries = parseSitemap(sitemap);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Main window");
    EXPECT_EQ(entries[0].local, "main.htm");
    EXPECT_EQ(entries[0].level, 0);
    EXPECT_EQ(entries[1].name, "Uploading");
    EXPECT_EQ(entries[1].local, "topics/upload.htm");
    EXPECT_EQ(entries[1].level, 1);
    EXPECT_EQ(entries[2].local, "network.htm");
    EXPECT_EQ(entries[2].level, 0);

    EXPECT_FALSE(ChmArchive("/no/such.chm").isOpen());
    EXPECT_FALSE(helpFileReadable("/no/such.chm"));
}

TEST(ChmArchive, PageTextsForTheSearch) {
    const std::string page = "<html><head><title> Net &amp; proxy </title><style>p{}</style>"
                             "</head><body><p>One&nbsp;<b>proxy</b>server</p>"
                             "<script>var hidden;</script></body></html>";
    EXPECT_EQ(htmlTitle(page), "Net & proxy");
    const std::string text = htmlPlainText(page);
    EXPECT_NE(text.find("One  proxy server"), std::string::npos) << text;
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_EQ(text.find("p{}"), std::string::npos);
    EXPECT_TRUE(containsNoCase(text, "PROXY"));
    EXPECT_FALSE(containsNoCase(text, "title"));
    EXPECT_EQ(htmlTitle("<p>no title</p>"), "");
}

// A damaged manual is a manual that cannot be read: the library that reads it crashes on
// some damaged headers, so nothing of such a file may reach it in the program itself.
TEST(ChmArchive, DamagedFilesAreUnreadableNotFatal) {
    TempFolder folder;
    const std::string sound = test::readBytes(TONVERT_TEST_MANUAL);
    ASSERT_GT(sound.size(), 0x60u);
    const std::string path = folder.file("damaged.chm");

    // The directory's block length made 0: the library would divide by it.
    std::uint64_t directory = 0;
    for (int i = 7; i >= 0; --i)
        directory = (directory << 8) | static_cast<unsigned char>(sound[0x48 + std::size_t(i)]);
    ASSERT_LT(directory + 0x14, sound.size());
    std::string zeroBlocks = sound;
    std::fill_n(zeroBlocks.begin() + static_cast<std::ptrdiff_t>(directory + 0x10), 4, '\0');
    test::writeBytes(path, zeroBlocks);
    EXPECT_FALSE(helpFileReadable(path));
    std::string bytes;
    EXPECT_FALSE(ChmArchive(path).read("/#IVB", bytes));

    // Bytes changed here and there: whatever the library makes of them, this process goes on.
    std::uint32_t seed = 1;
    int unreadable = 0;
    for (int round = 0; round < 60; ++round) {
        std::string changed = sound;
        for (int n = 0; n < 8; ++n) {
            seed = seed * 1103515245u + 12345u;
            changed[(seed >> 8) % changed.size()] = static_cast<char>(seed >> 24);
        }
        test::writeBytes(path, changed);
        const ChmArchive archive(path);
        unreadable += archive.isOpen() ? 0 : 1;
        for (const auto& file : archive.files())
            archive.read(file, bytes);
    }
    EXPECT_GT(unreadable, 0);
    test::writeBytes(path, sound);
    EXPECT_TRUE(helpFileReadable(path));
}
