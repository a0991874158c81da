#include "midiRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ebur128.h>
#include <filesystem>
#include <fluidsynth.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audioEncoder.h"
#include "midiUnit.h"

namespace tonvert::render {

namespace {

constexpr int kBlockFrames = 1024;

bool stopAsked(const RenderOptions& options) {
    return options.stop != nullptr && options.stop->load(std::memory_order_relaxed);
}
constexpr double kSilenceBelowPeakDb = 70.0;
constexpr double kSilentStretchSeconds = 0.25;
constexpr double kFadeSeconds = 1.0;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Settings =
    std::unique_ptr<fluid_settings_t, Deleter<fluid_settings_t, delete_fluid_settings>>;
using Synth = std::unique_ptr<fluid_synth_t, Deleter<fluid_synth_t, delete_fluid_synth>>;
using Player = std::unique_ptr<fluid_player_t, Deleter<fluid_player_t, delete_fluid_player>>;

void quiet(int, const char*, void*) {}

// XG files ask for their drum kits with bank 127; everything else is read the GS way.
const char* bankSelectMode(const std::string& smf) {
    static const char xgReset[] = {'\x43', '\x10', '\x4C', '\x00', '\x00', '\x7E', '\x00'};
    return std::search(smf.begin(), smf.end(), std::begin(xgReset), std::end(xgReset)) != smf.end()
               ? "xg"
               : "gs";
}

std::uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// The Standard MIDI File inside the file: the whole file, or the "data" chunk of a RIFF
// "RMID" file, which the synthesizer's player does not read by itself. The reader has
// validated the file before.
std::string standardMidiFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.compare(0, 4, "RIFF") != 0)
        return bytes;
    for (std::size_t chunk = 12; chunk + 8 <= bytes.size();) {
        if (bytes.compare(chunk, 4, "data") == 0)
            return bytes.substr(chunk + 8);
        const std::uint32_t length = littleEndian32(bytes, chunk + 4);
        chunk += 8 + std::size_t(length) + (length & 1);
    }
    return {};
}

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    text.erase(
        std::unique(text.begin(), text.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
        text.end());
    return text;
}

// The synthesizer's stereo output, rendered into `audio` (interleaved) up to the end of the
// MIDI file and then on until it has fallen silent.
bool synthesize(const std::string& midiPath, double playTime, int sampleRate,
                const RenderOptions& options, std::vector<float>& audio,
                const std::function<void(double)>& progress, std::string& error) {
    const std::string smf = standardMidiFile(midiPath);
    // The synthesizer's log is global; the reasons of a failure come back as texts instead.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, &quiet, nullptr);
    });
    Settings settings(new_fluid_settings());
    fluid_settings_setnum(settings.get(), "synth.sample-rate", sampleRate);
    fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
    fluid_settings_setint(settings.get(), "synth.lock-memory", 0);
    fluid_settings_setint(settings.get(), "synth.polyphony", 512);
    fluid_settings_setstr(settings.get(), "synth.midi-bank-select", bankSelectMode(smf));
    const unsigned cores = options.cpuCores != 0
                               ? options.cpuCores
                               : std::max(1u, std::thread::hardware_concurrency());
    fluid_settings_setint(settings.get(), "synth.cpu-cores", static_cast<int>(cores));
    Synth synth(new_fluid_synth(settings.get()));
    if (!synth) {
        error = "the synthesizer cannot start";
        return false;
    }
    if (fluid_synth_sfload(synth.get(), options.soundfont.c_str(), 1) == FLUID_FAILED) {
        error = "cannot load the soundfont " + options.soundfont;
        return false;
    }
    Player player(new_fluid_player(synth.get()));
    if (!player || fluid_player_add_mem(player.get(), smf.data(), smf.size()) != FLUID_OK ||
        fluid_player_play(player.get()) != FLUID_OK) {
        error = "the synthesizer cannot play " + midiPath;
        return false;
    }

    const auto endFrame = static_cast<std::size_t>(std::ceil(playTime * sampleRate));
    const auto maxFrames = endFrame + static_cast<std::size_t>(options.maxTailSeconds * sampleRate);
    const auto silentStretch = static_cast<std::size_t>(kSilentStretchSeconds * sampleRate);
    audio.clear();
    audio.reserve(2 * (endFrame + silentStretch * 8));
    float peak = 0;
    std::size_t lastLoud = 0; // the frame after the last one above the silence threshold
    std::size_t frames = 0;
    bool fellSilent = false;
    while (frames < maxFrames) {
        if (stopAsked(options)) {
            error = "the render was stopped";
            return false;
        }
        const int block = static_cast<int>(std::min<std::size_t>(kBlockFrames, maxFrames - frames));
        audio.resize(2 * (frames + static_cast<std::size_t>(block)));
        float* out = audio.data() + 2 * frames;
        if (fluid_synth_write_float(synth.get(), block, out, 0, 2, out, 1, 2) != FLUID_OK) {
            error = "the synthesizer failed";
            return false;
        }
        const float threshold =
            std::max(1e-6f, peak * static_cast<float>(std::pow(10.0, -kSilenceBelowPeakDb / 20)));
        for (int i = 0; i < 2 * block; ++i) {
            const float level = std::fabs(out[i]);
            if (frames < endFrame)
                peak = std::max(peak, level);
            if (level > threshold)
                lastLoud = frames + static_cast<std::size_t>(i / 2) + 1;
        }
        frames += static_cast<std::size_t>(block);
        if (frames >= endFrame && frames - std::max(lastLoud, endFrame) >= silentStretch) {
            fellSilent = true;
            break;
        }
        if (progress && frames % (kBlockFrames * 64) == 0 && endFrame > 0)
            progress(std::min(1.0, double(frames) / double(endFrame)));
    }
    // Keep the sound up to where it fell silent, never less than the MIDI file's length.
    const std::size_t kept = fellSilent ? std::max(lastLoud, endFrame) : frames;
    audio.resize(2 * kept);
    if (!fellSilent) {
        // A note that never ends: fade out over the last second.
        const auto fade = std::min(kept, static_cast<std::size_t>(kFadeSeconds * sampleRate));
        for (std::size_t f = 0; f < fade; ++f) {
            const float gain = float(f) / float(fade);
            audio[2 * (kept - 1 - f)] *= gain;
            audio[2 * (kept - 1 - f) + 1] *= gain;
        }
    }
    return true;
}

// The loudness and true peak of interleaved audio, in LUFS and dBTP.
bool measure(const std::vector<float>& audio, int channels, int sampleRate, double& loudness,
             double& truePeakDb) {
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    if (!state)
        return false;
    const std::size_t frames = audio.size() / static_cast<std::size_t>(channels);
    if (ebur128_add_frames_float(state.get(), audio.data(), frames) != EBUR128_SUCCESS ||
        ebur128_loudness_global(state.get(), &loudness) != EBUR128_SUCCESS)
        return false;
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double channelPeak = 0;
        ebur128_true_peak(state.get(), static_cast<unsigned>(c), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    truePeakDb = peak > 0 ? 20 * std::log10(peak) : -HUGE_VAL;
    return true;
}

} // namespace

RenderReport renderMidiFile(const std::string& midiPath, const std::string& outputPath,
                            const RenderPreset& preset, const RenderOptions& options,
                            const std::function<void(double)>& progress) {
    RenderReport report;
    {
        TMidiFile midi;
        std::string message;
        if (!loadMidiFile(midiPath, false, midi, message)) {
            report.error = oneLine(message);
            return report;
        }
        const auto seconds = midiPlayTime(midi, message);
        if (!seconds || !message.empty()) {
            report.error = message.empty() ? "the MIDI file's time division is unknown" : message;
            return report;
        }
        report.playTime = *seconds;
        if (report.playTime > options.maxPlaySeconds) {
            report.error = "the MIDI file plays longer than " +
                           std::to_string(static_cast<int>(options.maxPlaySeconds / 60)) +
                           " minutes";
            return report;
        }
    }

    std::vector<float> audio;
    if (!synthesize(midiPath, report.playTime, preset.sampleRate, options, audio, progress,
                    report.error)) {
        report.stopped = stopAsked(options);
        return report;
    }
    if (preset.channels == 1) {
        // A proper downmix: both sides, not one of them.
        for (std::size_t f = 0; f < audio.size() / 2; ++f)
            audio[f] = 0.5f * (audio[2 * f] + audio[2 * f + 1]);
        audio.resize(audio.size() / 2);
    }
    const auto channels = static_cast<std::size_t>(preset.channels);
    report.duration = double(audio.size() / channels) / preset.sampleRate;

    double truePeak = 0;
    if (measure(audio, preset.channels, preset.sampleRate, report.loudness, truePeak) &&
        std::isfinite(report.loudness) && std::isfinite(truePeak)) {
        report.gainDb =
            std::min(options.loudnessTarget - report.loudness, options.truePeakCeiling - truePeak);
        const auto gain = static_cast<float>(std::pow(10.0, report.gainDb / 20));
        for (float& sample : audio)
            sample *= gain;
    }

    auto encoder = makeEncoder(preset.format);
    AudioTags tags{std::filesystem::path(midiPath).stem().string()};
    if (!encoder->open(outputPath, preset, tags, report.error))
        return report;
    constexpr std::size_t kChunkFrames = 8192;
    for (std::size_t f = 0; f < audio.size() / channels; f += kChunkFrames) {
        const std::size_t n = std::min(kChunkFrames, audio.size() / channels - f);
        if (stopAsked(options)) {
            report.stopped = true;
            report.error = "the render was stopped";
            return report;
        }
        if (!encoder->write(audio.data() + f * channels, n, report.error))
            return report;
    }
    if (!encoder->finish(report.error))
        return report;
    report.encoder = encoder->settingsUsed();
    report.succeeded = true;
    if (progress)
        progress(1.0);
    return report;
}

} // namespace tonvert::render
