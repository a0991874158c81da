#include "audioEncoder.h"
#include "encoders.h"

#include <cerrno>
#include <cstring>

namespace tonvert::render {

std::unique_ptr<AudioEncoder> makeEncoder(AudioFormat format) {
    switch (format) {
    case AudioFormat::mp3:
        return makeMp3Encoder();
    case AudioFormat::ogg:
        return makeOggEncoder();
    case AudioFormat::wma:
        return makeWmaEncoder();
    case AudioFormat::wav:
        return makeWavEncoder();
    }
    return nullptr;
}

bool closeOutput(std::FILE*& file, const char* format, bool ok, std::string& error) {
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (ok && !closed) {
        error = std::string(format) + ": cannot close the file: " + std::strerror(errno);
        return false;
    }
    return ok;
}

std::string rateAndChannels(int sampleRate, int channels) {
    return std::to_string(sampleRate) + " Hz, " + std::to_string(channels) +
           (channels == 1 ? " channel" : " channels");
}

std::string unsupportedShape(const RenderPreset& preset) {
    if (preset.channels != 1 && preset.channels != 2)
        return "only mono and stereo are encoded, not " + std::to_string(preset.channels) +
               " channels";
    if (preset.sampleRate < 8000 || preset.sampleRate > 96000)
        return "sample rate " + std::to_string(preset.sampleRate) + " Hz is out of range";
    if (preset.bitrateKbps <= 0)
        return "no bitrate given";
    return {};
}

} // namespace tonvert::render
