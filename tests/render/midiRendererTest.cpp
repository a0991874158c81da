#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ebur128.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

#include "midiBytes.h"
#include "midiRenderer.h"
#include "testFiles.h"

namespace tonvert::render {
namespace {

using namespace tonvert::test;

struct Wav {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;
    double seconds() const { return double(samples.size()) / channels / rate; }
    // The loudest sample among the frames from `from` to `to` seconds.
    float peak(double from, double to) const {
        float p = 0;
        const auto first =
            static_cast<std::size_t>(from * rate) * static_cast<std::size_t>(channels);
        const auto last = std::min(samples.size(), static_cast<std::size_t>(to * rate) *
                                                       static_cast<std::size_t>(channels));
        for (std::size_t i = first; i < last; ++i)
            p = std::max(p, std::fabs(samples[i]));
        return p;
    }
};

Wav readWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Wav wav;
    if (file == nullptr)
        return wav;
    wav.rate = info.samplerate;
    wav.channels = info.channels;
    wav.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, wav.samples.data(), info.frames);
    sf_close(file);
    return wav;
}

// One piano note, panned by `pan`, held for `ticks` at 480 ticks a quarter (0.5 s each); with
// `noteOff` false the file ends there without releasing it.
std::string noteFile(std::uint32_t ticks, bool noteOff = true, int pan = 64) {
    std::string events = bytes({0x00, 0xB0, 0x0A, pan, 0x00, 0x90, 60, 100});
    if (noteOff)
        events += varLen(ticks) + bytes({0x80, 60, 0});
    else // another channel's event marks the end; the note goes on
        events += varLen(ticks) + bytes({0xB1, 0x07, 100});
    events += bytes({0x00, 0xFF, 0x2F, 0x00});
    return header(0, 1, 480) + trackChunk(events);
}

class MidiRendererTest : public ::testing::Test {
protected:
    RenderReport render(const std::string& midi, const std::string& preset) {
        writeBytes(folder.file("in.mid"), midi);
        return renderMidiFile(folder.file("in.mid"), folder.file("out.wav"), *parsePreset(preset),
                              options);
    }
    TempFolder folder;
    RenderOptions options;
};

TEST_F(MidiRendererTest, LengthTailAndLoudness) {
    // Two seconds of a note: the audio holds it and its release, then stops.
    RenderReport report = render(noteFile(1920), "WAV,1378,44100,C,2");
    ASSERT_TRUE(report.succeeded) << report.error;
    EXPECT_DOUBLE_EQ(report.playTime, 2.0);
    Wav wav = readWav(folder.file("out.wav"));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_GT(wav.seconds(), 2.0);
    EXPECT_LT(wav.seconds(), 2.0 + options.maxTailSeconds) << "the tail ends when it is silent";
    EXPECT_NEAR(wav.seconds(), report.duration, 0.01);
    EXPECT_GT(wav.peak(1.8, 2.0), 0.01) << "the note sounds to its end";
    EXPECT_LT(wav.peak(wav.seconds() - 0.05, wav.seconds()), wav.peak(0, 2) * 0.01);
    // Brought to the loudness target, unless the true-peak ceiling stops it first.
    const float ceiling = std::pow(10.0f, float(options.truePeakCeiling) / 20);
    EXPECT_LE(wav.peak(0, wav.seconds()), ceiling + 0.01f);
    if (report.loudness + report.gainDb < options.loudnessTarget - 0.5)
        EXPECT_GT(wav.peak(0, wav.seconds()), ceiling * 0.8f);
    else
        EXPECT_NEAR(report.loudness + report.gainDb, options.loudnessTarget, 0.5);

    // A note that never ends is cut at the cap, faded.
    options.maxTailSeconds = 3;
    report = render(noteFile(960, false), "WAV,703,22050,C,2");
    ASSERT_TRUE(report.succeeded) << report.error;
    wav = readWav(folder.file("out.wav"));
    EXPECT_EQ(wav.rate, 22050);
    EXPECT_NEAR(wav.seconds(), 1.0 + 3.0, 0.05);
    EXPECT_LT(wav.peak(wav.seconds() - 0.01, wav.seconds()), 0.01);
}

TEST_F(MidiRendererTest, MonoIsADownmixAndBadFilesFailClearly) {
    // A note panned hard to one side is still heard in mono.
    const RenderReport report = render(noteFile(960, true, 0), "WAV,352,22050,C,1");
    ASSERT_TRUE(report.succeeded) << report.error;
    const Wav wav = readWav(folder.file("out.wav"));
    EXPECT_EQ(wav.channels, 1);
    EXPECT_GT(wav.peak(0, 1), 0.1);

    EXPECT_FALSE(render("MThd and nothing more", "WAV,1378,44100,C,2").succeeded);
    const RenderReport bad =
        render(std::string("RIFF\x04\0\0\0WAVEdata", 16), "WAV,1378,44100,C,2");
    EXPECT_FALSE(bad.succeeded);
    EXPECT_NE(bad.error.find("is on an unknown format!"), std::string::npos) << bad.error;
    options.maxPlaySeconds = 1;
    EXPECT_NE(render(noteFile(1920), "WAV,1378,44100,C,2").error.find("plays longer than"),
              std::string::npos);
    options.maxPlaySeconds = 3600;
    options.soundfont = folder.file("missing.sf2");
    EXPECT_NE(render(noteFile(480), "WAV,1378,44100,C,2").error.find("cannot load the soundfont"),
              std::string::npos);
}

// The first `quarters` quarter notes of a Standard MIDI File: every track cut there and
// closed with an end of track. Notes still sounding then are left on. Empty when the file
// is not one the cut understands.
std::string firstQuarters(const std::string& smf, std::uint32_t quarters) {
    const auto u8 = [&](std::size_t at) { return static_cast<unsigned char>(smf[at]); };
    const auto be = [&](std::size_t at, int width) {
        std::uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | u8(at + std::size_t(i));
        return v;
    };
    if (smf.size() < 14 || smf.compare(0, 4, "MThd") != 0 || (be(12, 2) & 0x8000) != 0)
        return {};
    const std::uint32_t limit = quarters * be(12, 2);
    std::string out = smf.substr(0, 14);
    for (std::size_t chunk = 14; chunk + 8 <= smf.size();) {
        const std::size_t end = std::min(smf.size(), chunk + 8 + be(chunk + 4, 4));
        std::size_t at = chunk + 8;
        std::uint32_t ticks = 0;
        unsigned char status = 0;
        while (at < end) {
            const std::size_t event = at;
            std::uint32_t delta = 0;
            do
                delta = (delta << 7) | (u8(at) & 0x7F);
            while (u8(at++) & 0x80);
            if ((ticks += delta) > limit) {
                at = event;
                break;
            }
            if (u8(at) & 0x80)
                status = u8(at++);
            if (status == 0xFF || status == 0xF0 || status == 0xF7) {
                const bool endOfTrack = status == 0xFF && u8(at) == 0x2F;
                at += status == 0xFF ? 1 : 0;
                std::uint32_t length = 0;
                do
                    length = (length << 7) | (u8(at) & 0x7F);
                while (u8(at++) & 0x80);
                at = endOfTrack ? event : at + length; // the track's own end is written below
            } else {
                at += (status & 0xE0) == 0xC0 ? 1 : 2;
            }
            if (at == event)
                break;
        }
        const std::string events =
            smf.substr(chunk + 8, at - chunk - 8) + bytes({0, 0xFF, 0x2F, 0});
        out += trackChunk(events);
        chunk = end;
    }
    return out;
}

// On real music, the first 40 quarter notes of every third piece of Debian's openmsx set: the
// level the renderer set is the level libebur128's full measure finds in the file it wrote.
TEST_F(MidiRendererTest, RealMusicMeetsTheLoudnessTargetOrTheTruePeakCeiling) {
    const std::filesystem::path set = "/usr/share/games/openttd/baseset/openmsx";
    if (!std::filesystem::is_directory(set))
        GTEST_SKIP() << set << " is missing (scripts/install-deps.sh installs openttd-openmsx)";
    std::vector<std::filesystem::path> pieces;
    for (const auto& entry : std::filesystem::directory_iterator(set))
        if (entry.path().extension() == ".mid")
            pieces.push_back(entry.path());
    std::sort(pieces.begin(), pieces.end());
    ASSERT_GE(pieces.size(), 10u);
    options.cpuCores = 1;
    options.maxTailSeconds = 2;
    int ceilingDecided = 0;
    for (std::size_t i = 0; i < pieces.size(); i += 3) {
        const std::string cut = firstQuarters(readBytes(pieces[i].string()), 40);
        ASSERT_FALSE(cut.empty()) << pieces[i];
        const RenderReport report = render(cut, "WAV,1378,44100,C,2");
        ASSERT_TRUE(report.succeeded) << pieces[i] << ": " << report.error;
        const Wav wav = readWav(folder.file("out.wav"));
        ebur128_state* state = ebur128_init(2, 44100, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
        ebur128_add_frames_float(state, wav.samples.data(), wav.samples.size() / 2);
        double loudness = 0, left = 0, right = 0;
        ebur128_loudness_global(state, &loudness);
        ebur128_true_peak(state, 0, &left);
        ebur128_true_peak(state, 1, &right);
        ebur128_destroy(&state);
        const double truePeak = 20 * std::log10(std::max(left, right));
        SCOPED_TRACE(pieces[i].filename().string());
        EXPECT_NEAR(loudness, report.loudness + report.gainDb, 0.1);
        EXPECT_LE(truePeak, options.truePeakCeiling + 0.1);
        if (report.gainDb < options.loudnessTarget - report.loudness - 1e-9) {
            ++ceilingDecided;
            EXPECT_NEAR(truePeak, options.truePeakCeiling, 0.1);
            EXPECT_NEAR(report.truePeak + report.gainDb, options.truePeakCeiling, 1e-9);
        } else {
            EXPECT_NEAR(loudness, options.loudnessTarget, 0.1);
        }
    }
    std::printf("the true-peak ceiling decided %d of %zu pieces\n", ceilingDecided,
                (pieces.size() + 2) / 3);
}

TEST_F(MidiRendererTest, NoScratchFileIsLeftBehind) {
    // Only the MIDI file and what the render wrote may be in the folder, at any time.
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    bool seenWhileRendering = false;
    std::atomic<bool> stop{false};
    options.stop = &stop;
    writeBytes(folder.file("in.mid"), noteFile(480 * 240)); // two minutes
    const auto watch = [&](double) {
        seenWhileRendering = true;
        EXPECT_EQ(names(), std::vector<std::string>{"in.mid"});
        stop = true;
    };
    RenderReport report = renderMidiFile(folder.file("in.mid"), folder.file("out.wav"),
                                         *parsePreset("WAV,1378,44100,C,2"), options, watch);
    EXPECT_TRUE(seenWhileRendering);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(names(), std::vector<std::string>{"in.mid"});
    // A failure after the synthesis: the output cannot be made (a folder has its name).
    stop = false;
    std::filesystem::create_directory(folder.file("taken.wav"));
    report = renderMidiFile(folder.file("in.mid"), folder.file("taken.wav"),
                            *parsePreset("WAV,1378,44100,C,2"), options);
    EXPECT_FALSE(report.succeeded);
    EXPECT_FALSE(report.stopped);
    EXPECT_EQ(names(), (std::vector<std::string>{"in.mid", "taken.wav"}));
    report = render(noteFile(480), "WAV,1378,44100,C,2");
    EXPECT_TRUE(report.succeeded) << report.error;
    EXPECT_EQ(names(), (std::vector<std::string>{"in.mid", "out.wav", "taken.wav"}));
}

// What ffprobe says of a file: "sample_rate=44100", "channels=2", "duration=1.23" ...
std::string probe(const std::string& path) {
    const std::string command = "ffprobe -v error -show_entries stream=sample_rate,channels "
                                "-show_entries format=duration,bit_rate -of default=nw=1 '" +
                                path + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

double probed(const std::string& report, const std::string& key) {
    const auto at = report.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(report.c_str() + at + key.size() + 1);
}

TEST_F(MidiRendererTest, EveryPresetRendersAFileOfItsRateAndChannels) {
    writeBytes(folder.file("in.mid"), noteFile(960));
    options.cpuCores = 1; // a short file: threads would only cost
    for (const RenderPreset& preset : presetTable()) {
        const std::string out = folder.file("out.") + fileExtension(preset.format);
        const RenderReport report = renderMidiFile(folder.file("in.mid"), out, preset, options);
        ASSERT_TRUE(report.succeeded) << presetText(preset) << ": " << report.error;
        const std::string facts = probe(out);
        EXPECT_EQ(probed(facts, "sample_rate"), preset.sampleRate) << presetText(preset);
        EXPECT_EQ(probed(facts, "channels"), preset.channels) << presetText(preset);
        // The MIDI file's second plus the measured tail, give or take a codec frame.
        EXPECT_GT(report.duration, 1.0);
        EXPECT_NEAR(probed(facts, "duration"), report.duration, 0.15) << presetText(preset);
        std::filesystem::remove(out);
    }
}

TEST(RenderPresets, TableAndParameterTexts) {
    const auto& table = presetTable();
    ASSERT_EQ(table.size(), 112u);
    EXPECT_EQ(presetText(table.front()), "MP3,320,44100,V,2");
    EXPECT_EQ(presetText(table[43]), "MP3,56,44100,C,1");
    EXPECT_EQ(presetText(table[44]), "OGG,500,44100,V,2");
    EXPECT_EQ(presetText(table[83]), "OGG,64,44100,C,1");
    EXPECT_EQ(presetText(table[84]), "WMA,192,48000,C,2");
    EXPECT_EQ(presetText(table.back()), "WAV,352,22050,C,1");
    for (const RenderPreset& preset : table)
        EXPECT_EQ(parsePreset(presetText(preset)), preset);
    for (const char* bad :
         {"", "MP3,320,44100,V", "MP3,320,44100,X,2", "FLAC,320,44100,V,2", "MP3,320,44100,V,3",
          "MP3,-1,44100,V,2", "MP3,320,4410,V,2", "MP3,320,44100,V,2,", "MP3, 320,44100,V,2"})
        EXPECT_EQ(parsePreset(bad), std::nullopt) << bad;
}

} // namespace
} // namespace tonvert::render
