#include "midiRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fluidsynth.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sched.h>
#include <thread>
#include <vector>

#include "audioEncoder.h"
#include "loudness.h"
#include "midiUnit.h"
#include "scratchAudio.h"

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

struct Synthesizer {
    Settings settings;
    Synth synth;
    Player player;
};

// The cores the synthesizer may use: the ones this process may run on, unless told.
int synthesizerCores(const RenderOptions& options) {
    if (options.cpuCores != 0)
        return static_cast<int>(options.cpuCores);
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return std::max(1, CPU_COUNT(&allowed));
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// A synthesizer that plays `smf` offline at `sampleRate`; empty with `error` when it cannot.
std::optional<Synthesizer> startSynthesizer(const std::string& midiPath, const std::string& smf,
                                            int sampleRate, const RenderOptions& options,
                                            std::string& error) {
    // The synthesizer's log is global; the reasons of a failure come back as texts instead.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, &quiet, nullptr);
    });
    Synthesizer s;
    s.settings.reset(new_fluid_settings());
    fluid_settings_setnum(s.settings.get(), "synth.sample-rate", sampleRate);
    fluid_settings_setstr(s.settings.get(), "player.timing-source", "sample");
    fluid_settings_setint(s.settings.get(), "synth.lock-memory", 0);
    // The synthesis settings were each timed on real music (README, "Rendering"); the ones
    // that would be faster all change the sound, so they stay as the soundfont and the file
    // ask: reverb and chorus on, 4th-order interpolation. 512 voices cost nothing over 256
    // until a dense piece needs them, where 256 would cut notes off.
    fluid_settings_setint(s.settings.get(), "synth.polyphony", 512);
    fluid_settings_setstr(s.settings.get(), "synth.midi-bank-select", bankSelectMode(smf));
    fluid_settings_setint(s.settings.get(), "synth.cpu-cores", synthesizerCores(options));
    s.synth.reset(new_fluid_synth(s.settings.get()));
    if (!s.synth) {
        error = "the synthesizer cannot start";
        return std::nullopt;
    }
    if (fluid_synth_sfload(s.synth.get(), options.soundfont.c_str(), 1) == FLUID_FAILED) {
        error = "cannot load the soundfont " + options.soundfont;
        return std::nullopt;
    }
    fluid_synth_set_interp_method(s.synth.get(), -1, FLUID_INTERP_4THORDER);
    s.player.reset(new_fluid_player(s.synth.get()));
    if (!s.player || fluid_player_add_mem(s.player.get(), smf.data(), smf.size()) != FLUID_OK ||
        fluid_player_play(s.player.get()) != FLUID_OK) {
        error = "the synthesizer cannot play " + midiPath;
        return std::nullopt;
    }
    return s;
}

// Where the synthesizer's stereo frames go once they are final.
using FrameSink = std::function<bool(const float* stereo, std::size_t frames)>;

// The synthesizer's stereo output up to the end of the MIDI file and then on until it has
// fallen silent, handed to `sink` in order. Only frames that may still be cut or faded wait
// in memory (about a second at most); the rest goes on at once.
bool synthesize(const std::string& midiPath, double playTime, int sampleRate,
                const RenderOptions& options, const FrameSink& sink,
                const std::function<void(double)>& progress, std::string& error) {
    const std::string smf = standardMidiFile(midiPath);
    auto synthesizer = startSynthesizer(midiPath, smf, sampleRate, options, error);
    if (!synthesizer)
        return false;
    fluid_synth_t* synth = synthesizer->synth.get();

    const auto endFrame = static_cast<std::size_t>(std::ceil(playTime * sampleRate));
    const auto maxFrames = endFrame + static_cast<std::size_t>(options.maxTailSeconds * sampleRate);
    const auto silentStretch = static_cast<std::size_t>(kSilentStretchSeconds * sampleRate);
    const auto fade = std::min(maxFrames, static_cast<std::size_t>(kFadeSeconds * sampleRate));
    std::vector<float> pending; // the frames from `handed` to `frames`
    std::size_t handed = 0;
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
        pending.resize(2 * (frames - handed + static_cast<std::size_t>(block)));
        float* out = pending.data() + 2 * (frames - handed);
        if (fluid_synth_write_float(synth, block, out, 0, 2, out, 1, 2) != FLUID_OK) {
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
        // Frames before both the last loud one and the fade of a cut are kept as they are.
        const std::size_t final =
            std::min({std::max(lastLoud, endFrame), maxFrames - fade, frames});
        if (final > handed) {
            if (!sink(pending.data(), final - handed))
                return false;
            pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(2 * (final - handed)));
            handed = final;
        }
        if (progress && frames % (kBlockFrames * 64) == 0 && endFrame > 0)
            progress(std::min(1.0, double(frames) / double(endFrame)));
    }
    // Keep the sound up to where it fell silent, never less than the MIDI file's length.
    const std::size_t kept = fellSilent ? std::max(lastLoud, endFrame) : frames;
    pending.resize(2 * (kept - handed));
    if (!fellSilent) {
        // A note that never ends: fade out over the last second.
        for (std::size_t f = 0; f < fade; ++f) {
            const float gain = float(f) / float(fade);
            pending[2 * (kept - handed - 1 - f)] *= gain;
            pending[2 * (kept - handed - 1 - f) + 1] *= gain;
        }
    }
    return pending.empty() || sink(pending.data(), kept - handed);
}

// The scratch audio at the report's gain into the preset's encoder; false with the report's
// error set when the file cannot be made or the render was stopped.
bool encode(const ScratchAudio& scratch, const std::string& outputPath, const RenderPreset& preset,
            const RenderOptions& options, const std::string& midiPath, RenderReport& report) {
    auto encoder = makeEncoder(preset.format);
    AudioTags tags{std::filesystem::path(midiPath).stem().string()};
    if (!encoder->open(outputPath, preset, tags, report.error))
        return false;
    const auto channels = static_cast<std::size_t>(preset.channels);
    const auto gain = static_cast<float>(std::pow(10.0, report.gainDb / 20));
    constexpr std::size_t kChunkFrames = 8192;
    std::vector<float> chunk(kChunkFrames * channels);
    for (std::size_t f = 0; f < scratch.frames(); f += kChunkFrames) {
        const std::size_t n = std::min(kChunkFrames, scratch.frames() - f);
        if (stopAsked(options)) {
            report.stopped = true;
            report.error = "the render was stopped";
            return false;
        }
        if (!scratch.read(f, n, chunk.data())) {
            report.error = "cannot read the scratch file back";
            return false;
        }
        for (std::size_t i = 0; i < n * channels; ++i)
            chunk[i] *= gain;
        if (!encoder->write(chunk.data(), n, report.error))
            return false;
    }
    if (!encoder->finish(report.error))
        return false;
    report.encoder = encoder->settingsUsed();
    return true;
}

} // namespace

RenderReport renderMidiFile(const std::string& midiPath, const std::string& outputPath,
                            const RenderPreset& preset, const RenderOptions& options,
                            const std::function<void(double)>& progress) {
    RenderReport report;
    report.fileRefused = true;
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
    report.fileRefused = false;

    // The synthesis goes to a scratch file beside the output while its loudness is measured;
    // a second pass brings it to the gain and encodes it. Memory stays flat for any length.
    const auto channels = static_cast<std::size_t>(preset.channels);
    ScratchAudio scratch;
    const std::string folder = std::filesystem::path(outputPath).parent_path().string();
    if (!scratch.open(folder, preset.channels, report.error))
        return report;
    LoudnessMeter meter(preset.channels, preset.sampleRate);
    std::vector<float> mono;
    const auto keep = [&](const float* stereo, std::size_t frames) {
        const float* samples = stereo;
        if (channels == 1) {
            // A proper downmix: both sides, not one of them.
            mono.resize(frames);
            for (std::size_t f = 0; f < frames; ++f)
                mono[f] = 0.5f * (stereo[2 * f] + stereo[2 * f + 1]);
            samples = mono.data();
        }
        meter.add(samples, frames);
        return scratch.append(samples, frames, report.error);
    };
    if (!synthesize(midiPath, report.playTime, preset.sampleRate, options, keep, progress,
                    report.error) ||
        !scratch.flush(report.error)) {
        report.stopped = stopAsked(options);
        return report;
    }
    report.duration = double(scratch.frames()) / preset.sampleRate;

    const Normalisation level =
        normalisation(meter, options.loudnessTarget, options.truePeakCeiling,
                      [&](std::size_t first, std::size_t frames, float* out) {
                          return scratch.read(first, frames, out);
                      });
    if (level.readFailed) {
        report.error = "cannot read the scratch file back";
        return report;
    }
    report.loudness = level.loudness;
    report.truePeak = level.truePeak;
    report.gainDb = level.measured ? level.gainDb : 0.0;
    if (!encode(scratch, outputPath, preset, options, midiPath, report))
        return report;
    report.succeeded = true;
    if (progress)
        progress(1.0);
    return report;
}

} // namespace tonvert::render
