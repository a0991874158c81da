#include <sndfile.h>

#include "encoders.h"

namespace tonvert::render {

namespace {

class WavEncoder : public AudioEncoder {
public:
    ~WavEncoder() override {
        if (file_)
            sf_close(file_);
    }

    bool open(const std::string& path, const RenderPreset& preset, const AudioTags& tags,
              std::string& error) override {
        if (file_)
            sf_close(file_);
        file_ = nullptr;
        if (const auto why = unsupportedShape(preset); !why.empty()) {
            error = "WAV: " + why;
            return false;
        }
        // The preset's bitrate is only what 16-bit PCM at its rate and channels amounts to.
        SF_INFO info{};
        info.samplerate = preset.sampleRate;
        info.channels = preset.channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        file_ = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!file_) {
            error = "WAV: cannot create " + path + ": " + sf_strerror(nullptr);
            return false;
        }
        // Without clipping, samples beyond full scale wrap around to the opposite sign.
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        if (!tags.title.empty())
            sf_set_string(file_, SF_STR_TITLE, tags.title.c_str());
        settings_ =
            "libsndfile 16-bit PCM WAV at " + rateAndChannels(preset.sampleRate, preset.channels);
        return true;
    }

    bool write(const float* samples, std::size_t frames, std::string& error) override {
        if (!file_) {
            error = "WAV: the file is not open";
            return false;
        }
        const auto count = static_cast<sf_count_t>(frames);
        if (sf_writef_float(file_, samples, count) != count) {
            error = std::string("WAV: cannot write the file: ") + sf_strerror(file_);
            return false;
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (!file_) {
            error = "WAV: the file is not open";
            return false;
        }
        const int code = sf_close(file_);
        file_ = nullptr;
        if (code != 0) {
            error = std::string("WAV: cannot close the file: ") + sf_error_number(code);
            return false;
        }
        return true;
    }

    std::string settingsUsed() const override { return settings_; }

private:
    SNDFILE* file_ = nullptr;
    std::string settings_;
};

} // namespace

std::unique_ptr<AudioEncoder> makeWavEncoder() {
    return std::make_unique<WavEncoder>();
}

} // namespace tonvert::render
