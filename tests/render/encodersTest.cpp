#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>
#include <utility>
#include <vector>

#include "audioEncoder.h"
#include "testFiles.h"

namespace tonvert::render {
namespace {

constexpr double kSeconds = 1.5;
const std::string kTitle = "Étude Nr. 5";

// The bitrate the libraries accept nearest to the preset's: libvorbis tops out at
// 240 kbit/s for mono at 44100 Hz, wmav2 starts at 24 kbit/s.
int expectedKbps(const RenderPreset& preset) {
    if (preset.format == AudioFormat::ogg && preset.channels == 1)
        return std::min(preset.bitrateKbps, 240);
    if (preset.format == AudioFormat::wma)
        return std::max(preset.bitrateKbps, 24);
    return preset.bitrateKbps;
}

// A 440 Hz sine on the left and a 660 Hz one on the right; mono gets the 440 Hz one.
std::vector<float> testSignal(const RenderPreset& preset, double seconds = kSeconds) {
    const auto frames = static_cast<std::size_t>(seconds * preset.sampleRate);
    std::vector<float> samples(frames * preset.channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < preset.channels; ++c)
            samples[i * preset.channels + c] = static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * (440 + 220 * c) * i / preset.sampleRate));
    return samples;
}

std::string encode(const RenderPreset& preset, const std::vector<float>& samples,
                   const std::string& path, std::string& settings) {
    auto encoder = makeEncoder(preset.format);
    std::string error;
    if (!encoder->open(path, preset, {kTitle}, error))
        return error;
    // Uneven pieces, so that buffering into codec frames is exercised.
    const std::size_t frames = samples.size() / preset.channels;
    for (std::size_t at = 0; at < frames; at += 1000)
        if (!encoder->write(&samples[at * preset.channels],
                            std::min<std::size_t>(1000, frames - at), error))
            return error;
    settings = encoder->settingsUsed();
    return encoder->finish(error) ? "" : error;
}

std::map<std::string, std::string> probe(const std::string& path) {
    const std::string command = "ffprobe -v error -show_entries "
                                "stream=sample_rate,channels,codec_name:format=duration:"
                                "format_tags=title:stream_tags=title -of default=nw=1 '" +
                                path + "'";
    std::map<std::string, std::string> fields;
    FILE* pipe = popen(command.c_str(), "r");
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        // Vorbis comments keep the case of their names ("TAG:TITLE").
        if (const auto equals = text.find('='); equals != std::string::npos) {
            std::string name = text.substr(0, equals);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            fields[name] = text.substr(equals + 1);
        }
    }
    if (pipe)
        pclose(pipe);
    return fields;
}

// How many sample frames FFmpeg decodes from the file, after any gapless trimming.
std::size_t decodedFrames(const std::string& path) {
    const std::string command = "ffmpeg -v error -i '" + path + "' -ac 1 -f s16le -";
    std::size_t bytes = 0;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[65536];
    while (pipe && !std::feof(pipe))
        bytes += std::fread(buffer, 1, sizeof buffer, pipe);
    if (pipe)
        pclose(pipe);
    return bytes / 2;
}

TEST(Encoders, EveryPresetMakesAFileOfItsRateChannelsLengthAndTitle) {
    test::TempFolder folder;
    const char* extensions[] = {"mp3", "ogg", "wma", "wav"};
    const char* codecs[] = {"mp3", "vorbis", "wmav2", "pcm_s16le"};
    const auto& rows = presetTable();
    ASSERT_EQ(rows.size(), 112u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RenderPreset& preset = rows[i];
        const int format = static_cast<int>(preset.format);
        const std::string path = folder.file("row" + std::to_string(i) + "." + extensions[format]);
        SCOPED_TRACE(path + ": " + std::to_string(preset.bitrateKbps) + " kbit/s, " +
                     std::to_string(preset.sampleRate) + " Hz, " +
                     (preset.variableBitrate ? "V, " : "C, ") + std::to_string(preset.channels));

        std::string settings;
        ASSERT_EQ(encode(preset, testSignal(preset), path, settings), "");
        if (preset.format != AudioFormat::wav) {
            EXPECT_NE(settings.find(" " + std::to_string(expectedKbps(preset)) + " kbit/s"),
                      std::string::npos)
                << settings;
        }

        auto fields = probe(path);
        EXPECT_EQ(fields["codec_name"], codecs[format]);
        EXPECT_EQ(fields["sample_rate"], std::to_string(preset.sampleRate));
        EXPECT_EQ(fields["channels"], std::to_string(preset.channels));
        EXPECT_EQ(fields["tag:title"], kTitle);
        const double duration = std::atof(fields["duration"].c_str());
        EXPECT_NEAR(duration, kSeconds, 0.15);

        // MP3 (with its info frame), Vorbis and PCM decode to exactly the input; WMA pads the
        // last frame, and decoders drop its first frame, which must be silence.
        const std::size_t frames = static_cast<std::size_t>(kSeconds * preset.sampleRate);
        const std::size_t decoded = decodedFrames(path);
        if (preset.format == AudioFormat::wma) {
            EXPECT_GE(decoded, frames);
            EXPECT_LT(decoded, frames + 2048);
        } else {
            EXPECT_EQ(decoded, frames);
        }

        if (preset.format == AudioFormat::mp3 && !preset.variableBitrate) {
            const std::string bytes = test::readBytes(path);
            ASSERT_GT(bytes.size(), 10u);
            ASSERT_EQ(bytes.substr(0, 3), "ID3");
            // The ID3v2 size is four 7-bit bytes after the 10-byte header.
            std::size_t tag = 10;
            for (int k = 6; k < 10; ++k)
                tag += static_cast<std::size_t>(static_cast<unsigned char>(bytes[k]) & 0x7F)
                       << (7 * (9 - k));
            const double audio = preset.bitrateKbps * 1000.0 * kSeconds / 8;
            EXPECT_NEAR(static_cast<double>(bytes.size() - tag), audio, audio * 0.1);
        }
    }
}

TEST(Encoders, ReportFailuresKeepWmaAtItsBitrateAndClipWav) {
    test::TempFolder folder;
    for (const auto format :
         {AudioFormat::mp3, AudioFormat::ogg, AudioFormat::wma, AudioFormat::wav}) {
        const RenderPreset preset{format, 128, 44100, false, 2};
        auto encoder = makeEncoder(format);
        std::string error;
        const float silence[2] = {};
        EXPECT_FALSE(encoder->write(silence, 1, error));
        error.clear();
        EXPECT_FALSE(encoder->open(folder.file("missing/out.x"), preset, {kTitle}, error));
        EXPECT_FALSE(error.empty());
    }

    // ASF packets hold whole frames; badly sized ones leave much of each packet empty.
    const RenderPreset wma{AudioFormat::wma, 192, 44100, false, 2};
    std::string settings;
    ASSERT_EQ(encode(wma, testSignal(wma, 10), folder.file("long.wma"), settings), "");
    EXPECT_NEAR(test::readBytes(folder.file("long.wma")).size(), 192000 * 10 / 8, 24000);

    const std::string path = folder.file("loud.wav");
    auto encoder = makeEncoder(AudioFormat::wav);
    std::string error;
    const float loud[] = {1.5f, -1.5f, 0.5f};
    ASSERT_TRUE(encoder->open(path, {AudioFormat::wav, 705, 44100, false, 1}, {kTitle}, error));
    ASSERT_TRUE(encoder->write(loud, 3, error));
    ASSERT_TRUE(encoder->finish(error)) << error;
    const std::string bytes = test::readBytes(path);
    const auto data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    ASSERT_GE(bytes.size(), data + 14);
    const auto sample = [&](int k) {
        const auto low = static_cast<unsigned char>(bytes[data + 8 + 2 * k]);
        const auto high = static_cast<unsigned char>(bytes[data + 9 + 2 * k]);
        return static_cast<int16_t>(low | (high << 8));
    };
    EXPECT_EQ(sample(0), 32767);
    EXPECT_LE(sample(1), -32767);
    EXPECT_NEAR(sample(2), 16384, 1);
}

} // namespace
} // namespace tonvert::render
