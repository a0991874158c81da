#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <lame/lame.h>
#include <vector>

#include "encoders.h"

namespace tonvert::render {

namespace {

// Frames handed to LAME at a time; its output buffer is sized from this.
constexpr std::size_t kChunkFrames = 4608;
constexpr std::size_t kOutputBytes = kChunkFrames * 5 / 4 + 7200;

// UTF-16 with a byte order mark and a closing zero, as LAME's ID3v2 text frames want it.
// Bytes that are not UTF-8 become U+FFFD.
std::vector<unsigned short> utf16ForId3(const std::string& text) {
    std::vector<unsigned short> out{0xFEFF};
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 0;
        char32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            code = 0xFFFD;
            i += 1;
        } else {
            i += length;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<unsigned short>(0xD800 + (code >> 10)));
            out.push_back(static_cast<unsigned short>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<unsigned short>(code));
        }
    }
    out.push_back(0);
    return out;
}

bool isAscii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

class Mp3Encoder : public AudioEncoder {
public:
    ~Mp3Encoder() override { close(); }

    bool open(const std::string& path, const RenderPreset& preset, const AudioTags& tags,
              std::string& error) override {
        close();
        if (const auto why = unsupportedShape(preset); !why.empty()) {
            error = "MP3: " + why;
            return false;
        }
        channels_ = preset.channels;
        lame_ = lame_init();
        if (!lame_) {
            error = "MP3: LAME could not start";
            return false;
        }
        id3tag_init(lame_);
        id3tag_v2_only(lame_);
        if (isAscii(tags.title))
            id3tag_set_title(lame_, tags.title.c_str());
        else
            id3tag_set_textinfo_utf16(lame_, "TIT2", utf16ForId3(tags.title).data());
        // The tag goes in by hand so that the info frame's place after it is known.
        lame_set_write_id3tag_automatic(lame_, 0);

        lame_set_num_channels(lame_, channels_);
        // Without an explicit output rate LAME resamples down at low bitrates.
        lame_set_in_samplerate(lame_, preset.sampleRate);
        lame_set_out_samplerate(lame_, preset.sampleRate);
        lame_set_mode(lame_, channels_ == 1 ? MONO : JOINT_STEREO);
        // LAME's own default: its command line encodes the same way.
        lame_set_quality(lame_, 3);
        lame_set_bWriteVbrTag(lame_, 1);
        // LAME leaves its info frame out when a constant-bitrate frame cannot hold it (under
        // 192 bytes, e.g. 56 kbit/s at 44100 Hz). Such presets become an average bitrate held
        // to the bitrate from both sides: constant in all but name, with the info frame in a
        // larger first frame.
        const int samplesPerFrame = preset.sampleRate >= 32000 ? 1152 : 576;
        const bool held = !preset.variableBitrate &&
                          samplesPerFrame / 8 * preset.bitrateKbps * 1000 / preset.sampleRate < 192;
        // Average bitrate rather than a quality level: the file size follows the preset.
        if (preset.variableBitrate || held) {
            lame_set_VBR(lame_, vbr_abr);
            lame_set_VBR_mean_bitrate_kbps(lame_, preset.bitrateKbps);
        } else {
            lame_set_VBR(lame_, vbr_off);
            lame_set_brate(lame_, preset.bitrateKbps);
        }
        if (held) {
            lame_set_VBR_min_bitrate_kbps(lame_, preset.bitrateKbps);
            lame_set_VBR_max_bitrate_kbps(lame_, preset.bitrateKbps);
            lame_set_VBR_hard_min(lame_, 1);
        }
        if (const int code = lame_init_params(lame_); code < 0) {
            error = "MP3: LAME refused the settings (code " + std::to_string(code) + ")";
            close();
            return false;
        }

        // LAME adjusts settings it cannot meet instead of failing; a different rate would
        // resample, a different bitrate is the nearest it has and is reported.
        const int rate = lame_get_out_samplerate(lame_);
        if (rate != preset.sampleRate || lame_get_in_samplerate(lame_) != preset.sampleRate) {
            error = "MP3: LAME cannot encode at " + std::to_string(preset.sampleRate) +
                    " Hz (it would use " + std::to_string(rate) + " Hz)";
            close();
            return false;
        }
        if ((lame_get_mode(lame_) == MONO) != (channels_ == 1)) {
            error = "MP3: LAME changed the channel mode";
            close();
            return false;
        }
        const int kbps = lame_get_VBR(lame_) == vbr_abr ? lame_get_VBR_mean_bitrate_kbps(lame_)
                                                        : lame_get_brate(lame_);
        settings_ = std::string("LAME ") + (preset.variableBitrate ? "ABR " : "CBR ") +
                    std::to_string(kbps) + " kbit/s";
        if (kbps != preset.bitrateKbps)
            settings_ += " (" + std::to_string(preset.bitrateKbps) + " asked)";
        if (held)
            settings_ += " (as ABR held at it, for the info frame)";
        settings_ += " at " + rateAndChannels(rate, channels_);

        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            error = "MP3: cannot create " + path + ": " + std::strerror(errno);
            close();
            return false;
        }
        std::vector<unsigned char> tag(lame_get_id3v2_tag(lame_, nullptr, 0));
        if (!tag.empty() && lame_get_id3v2_tag(lame_, tag.data(), tag.size()) != tag.size()) {
            error = "MP3: LAME could not make the ID3v2 tag";
            close();
            return false;
        }
        infoFrameAt_ = static_cast<long>(tag.size());
        output_.resize(kOutputBytes);
        left_.resize(kChunkFrames);
        right_.resize(kChunkFrames);
        return put(tag.data(), tag.size(), error);
    }

    bool write(const float* samples, std::size_t frames, std::string& error) override {
        if (!file_) {
            error = "MP3: the file is not open";
            return false;
        }
        while (frames > 0) {
            const std::size_t count = std::min(frames, kChunkFrames);
            for (std::size_t i = 0; i < count; ++i) {
                left_[i] = samples[i * channels_];
                right_[i] = samples[i * channels_ + channels_ - 1];
            }
            const int bytes = lame_encode_buffer_ieee_float(lame_, left_.data(), right_.data(),
                                                            static_cast<int>(count), output_.data(),
                                                            static_cast<int>(output_.size()));
            if (bytes < 0) {
                error = "MP3: LAME failed to encode (code " + std::to_string(bytes) + ")";
                return false;
            }
            if (!put(output_.data(), static_cast<std::size_t>(bytes), error))
                return false;
            samples += count * channels_;
            frames -= count;
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (!file_) {
            error = "MP3: the file is not open";
            return false;
        }
        const int bytes =
            lame_encode_flush(lame_, output_.data(), static_cast<int>(output_.size()));
        if (bytes < 0) {
            error = "MP3: LAME failed to flush (code " + std::to_string(bytes) + ")";
            close();
            return false;
        }
        bool ok = put(output_.data(), static_cast<std::size_t>(bytes), error);

        // The info frame replaces the empty frame LAME put first, telling players the
        // encoder delay and padding so that they play the exact length.
        std::size_t size = lame_get_lametag_frame(lame_, output_.data(), output_.size());
        if (size > output_.size()) {
            output_.resize(size);
            size = lame_get_lametag_frame(lame_, output_.data(), output_.size());
        }
        if (ok && size > 0) {
            if (std::fseek(file_, infoFrameAt_, SEEK_SET) != 0) {
                error = std::string("MP3: cannot write the info frame: ") + std::strerror(errno);
                ok = false;
            } else {
                ok = put(output_.data(), size, error);
            }
        }
        ok = closeOutput(file_, "MP3", ok, error);
        close();
        return ok;
    }

    std::string settingsUsed() const override { return settings_; }

private:
    bool put(const unsigned char* bytes, std::size_t size, std::string& error) {
        if (size == 0 || std::fwrite(bytes, 1, size, file_) == size)
            return true;
        error = std::string("MP3: cannot write the file: ") + std::strerror(errno);
        return false;
    }

    void close() {
        if (file_)
            std::fclose(file_);
        file_ = nullptr;
        if (lame_)
            lame_close(lame_);
        lame_ = nullptr;
    }

    lame_global_flags* lame_ = nullptr;
    std::FILE* file_ = nullptr;
    int channels_ = 2;
    long infoFrameAt_ = 0;
    std::string settings_;
    std::vector<unsigned char> output_;
    std::vector<float> left_, right_;
};

} // namespace

std::unique_ptr<AudioEncoder> makeMp3Encoder() {
    return std::make_unique<Mp3Encoder>();
}

} // namespace tonvert::render
