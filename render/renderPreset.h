#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tonvert::render {

enum class AudioFormat { mp3, ogg, wma, wav };

// One quality preset of the client's table, as its parameter text names it:
// "FMT,bitrate,Hz,V|C,channels", for example "MP3,320,44100,V,2" or "WAV,1378,44100,C,2".
struct RenderPreset {
    AudioFormat format = AudioFormat::wav;
    int bitrateKbps = 0;
    int sampleRate = 44100;
    bool variableBitrate = false;
    int channels = 2;

    bool operator==(const RenderPreset&) const = default;
};

// Nothing when the text is not a preset the service renders: an unknown format, numbers out
// of range (8000 to 96000 Hz, 1 or 2 channels, 8 to 2000 kbit/s), or a mode other than V or C.
std::optional<RenderPreset> parsePreset(const std::string& text);
std::string presetText(const RenderPreset& preset);

// Every row of the client's preset table, in its order: 44 MP3, 40 OGG Vorbis, 22 WMA, 6 WAV.
const std::vector<RenderPreset>& presetTable();

// The three letters of the format's files, lower case ("mp3", "ogg", "wma", "wav").
const char* fileExtension(AudioFormat format);

} // namespace tonvert::render
