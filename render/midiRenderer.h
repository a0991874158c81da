#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "renderPreset.h"

namespace tonvert::render {

struct RenderOptions {
    std::string soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    // Every file is brought to this integrated loudness (EBU R 128), unless that would take
    // its true peak above the ceiling: then the ceiling decides and the file stays quieter.
    double loudnessTarget = -16.0; // LUFS
    double truePeakCeiling = -1.0; // dBTP
    // After the last event the render goes on until the sound has fallen 70 dB below the
    // file's peak, and stops there; a note that never ends is cut this long after the last
    // event, with a one-second fade.
    double maxTailSeconds = 10.0;
    // A file that claims to play longer is refused: its render would take memory and hours.
    double maxPlaySeconds = 3600.0;
    unsigned cpuCores = 0; // for the synthesizer; 0 takes every core the process may run on
    // When set, the render gives up soon after it turns true (the service is stopping).
    const std::atomic<bool>* stop = nullptr;
};

struct RenderReport {
    bool succeeded = false;
    bool stopped = false; // gave up when asked to: the output is incomplete
    // The MIDI file itself cannot be rendered: the reader refuses it, its time division is
    // unknown or it plays too long. Any other failure lies with the machine.
    bool fileRefused = false;
    std::string error;
    double playTime = 0; // of the MIDI file, seconds
    double duration = 0; // of the audio, seconds
    double loudness = 0; // before the gain, LUFS
    // Before the gain, dBTP; where it could not have reached the ceiling, only its bound.
    double truePeak = 0;
    double gainDb = 0;
    std::string encoder; // what the encoder was set to
};

// Renders a MIDI file into an audio file of the preset's format, rate and channels.
// `progress` hears the fraction done now and then.
RenderReport renderMidiFile(const std::string& midiPath, const std::string& outputPath,
                            const RenderPreset& preset, const RenderOptions& options,
                            const std::function<void(double)>& progress = {});

} // namespace tonvert::render
