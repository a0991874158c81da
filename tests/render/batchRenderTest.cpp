#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "batchOptions.h"
#include "batchPlan.h"
#include "midiBytes.h"
#include "testFiles.h"

namespace tonvert::render {
namespace {

using namespace tonvert::test;
using Words = std::vector<std::string>;

const std::string kWav = "WAV,1378,44100,C,2";

TEST(BatchArgumentsTest, UnusableWordsAreErrors) {
    struct Case {
        Words words;
        std::string error; // a part of it; empty: usable
    };
    const std::vector<Case> cases = {
        // Options once taken for file names: now options, or refused when unknown.
        {{"--jobs", "2", "--out", "DIR", "a.mid", "b.mid", "--preset", kWav}, ""},
        {{"--threads", "2", "--out", "DIR", "a.mid", "b.mid", "--preset", kWav}, "--threads"},
        {{"a.mid", "--preset", kWav, "--jobs"}, "--jobs needs a value"},
        {{"--jobs", "--out", "DIR", "a.mid", "--preset", kWav}, "--jobs needs a value"},
        {{"--jobs", "0", "a.mid", "--preset", kWav}, "--jobs takes"},
        {{"--jobs", "2x", "a.mid", "--preset", kWav}, "--jobs takes"},
        {{"--preset", kWav}, "no MIDI file"},
        {{"a.mid"}, "--preset is missing"},
        {{"a.mid", "--preset", "WAV,1,2"}, "is no preset"},
        {{"a.mid", "--preset", kWav, "--preset", kWav}, "given twice"},
        {{"a.mid", "b.mid", "c.wav", "--preset", kWav}, "c.wav names an audio file"},
        {{"a.mid", "c.wav", "--out", "DIR", "--preset", kWav}, "--out"},
        {{"--help", "--bogus"}, ""},
        {{"--preset", kWav, "--", "-odd.mid"}, ""},
    };
    for (const Case& c : cases) {
        const BatchArguments arguments = parseBatchArguments(c.words);
        SCOPED_TRACE(c.words[0] + " ... -> " + arguments.error);
        if (c.error.empty())
            EXPECT_EQ(arguments.error, "");
        else
            EXPECT_NE(arguments.error.find(c.error), std::string::npos);
    }
}

TEST(BatchArgumentsTest, FilesFoldersAndOutputs) {
    TempFolder temp;
    const std::string songs = temp.file("songs"), out = temp.file("out");
    std::filesystem::create_directories(songs + "/deeper");
    for (const char* name : {"b.MID", "a.mid", "c.rmi", "notes.txt", "deeper/d.mid"})
        writeBytes(songs + "/" + name, taggedMidi(name));
    writeBytes(temp.file("e.mid"), taggedMidi("e"));

    auto arguments = parseBatchArguments({"--jobs", "2", songs, temp.file("e.mid"),
                                          songs + "/a.mid", "--out", out, "--preset", kWav});
    ASSERT_EQ(arguments.error, "");
    EXPECT_EQ(arguments.jobs, 2u);
    BatchPlan plan = planBatch(arguments);
    EXPECT_TRUE(plan.problems.empty());
    Words outputs;
    for (const BatchJob& job : plan.jobs)
        outputs.push_back(std::filesystem::relative(job.output, out).string());
    EXPECT_EQ(outputs, (Words{"a.wav", "b.wav", "c.wav", "e.wav"})); // a.mid named twice

    // The single-file form keeps its output's name; without --out outputs go beside inputs.
    arguments = parseBatchArguments({temp.file("e.mid"), temp.file("x.wav"), "--preset", kWav});
    ASSERT_EQ(arguments.error, "");
    EXPECT_EQ(planBatch(arguments).jobs.at(0).output, temp.file("x.wav"));
    arguments = parseBatchArguments({songs + "/a.mid", songs + "/a.rmi", temp.file("gone.mid"),
                                     temp.file("e.mid"), "--preset", "MP3,320,44100,V,2"});
    writeBytes(songs + "/a.rmi", "");
    plan = planBatch(arguments);
    ASSERT_EQ(plan.jobs.size(), 2u);
    EXPECT_EQ(plan.jobs[0].output, songs + "/a.mp3");
    EXPECT_EQ(plan.jobs[1].output, temp.file("e.mp3"));
    EXPECT_EQ(plan.problems.size(), 2u); // a.rmi would overwrite a.mp3; gone.mid is not there
}

int run(const std::string& arguments) {
    const int status =
        std::system((TONVERT_RENDER_BINARY " " + arguments + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BatchRenderTest, RendersFilesAtOnceIntoTheOutFolder) {
    TempFolder temp;
    writeBytes(temp.file("one.mid"), taggedMidi("one"));
    writeBytes(temp.file("two.mid"), taggedMidi("two"));
    const std::string out = temp.file("out/wav");
    const std::string files = temp.file("one.mid") + " " + temp.file("two.mid");
    EXPECT_EQ(run("--jobs 2 --out " + out + " " + files + " --preset " + kWav), 0);
    const auto listing = [&] {
        Words names;
        for (const auto& entry : std::filesystem::directory_iterator(out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(listing(), (Words{"one.wav", "two.wav"}));

    // A render that fails at its very end (its output's name is taken by a folder) leaves no
    // part behind; the others are rendered.
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out + "/three.wav");
    writeBytes(temp.file("three.mid"), taggedMidi("three"));
    EXPECT_EQ(run("--jobs 2 --out " + out + " " + temp.file("three.mid") + " " + files +
                  " --preset " + kWav),
              1);
    EXPECT_EQ(listing(), (Words{"one.wav", "three.wav", "two.wav"}));
    EXPECT_EQ(run("--threads 2 --out " + out + " " + files + " --preset " + kWav), 2);
}

} // namespace
} // namespace tonvert::render
