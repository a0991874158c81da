#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "renderPreset.h"

namespace tonvert::render {

struct AudioTags {
    std::string title; // the MIDI file's name without its extension
};

// Writes one audio file from interleaved float samples (-1 to 1) at the preset's sample rate
// and channel count. Where a library refuses the preset's bitrate for its rate and channels,
// the encoder takes the nearest setting the library accepts and says so in `settingsUsed`.
class AudioEncoder {
public:
    virtual ~AudioEncoder() = default;
    // False, with `error` saying why, when the file cannot be made.
    virtual bool open(const std::string& path, const RenderPreset& preset, const AudioTags& tags,
                      std::string& error) = 0;
    virtual bool write(const float* samples, std::size_t frames, std::string& error) = 0;
    // Flushes and closes the file; for MP3 the info tag with the encoder delay is written.
    virtual bool finish(std::string& error) = 0;
    // What the library was set to, e.g. "LAME CBR 320 kbit/s at 44100 Hz, 2 channels".
    virtual std::string settingsUsed() const = 0;
};

std::unique_ptr<AudioEncoder> makeEncoder(AudioFormat format);

} // namespace tonvert::render
