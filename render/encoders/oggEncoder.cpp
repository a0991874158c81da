#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ogg/ogg.h>
#include <random>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include "encoders.h"

namespace tonvert::render {

namespace {

constexpr std::size_t kChunkFrames = 4096;

// Sets `info` up for `bitsPerSecond`: all three limits equal for a constant bitrate, else
// the nominal alone with management turned off afterwards, which makes libvorbis pick the
// quality level whose typical bitrate is the nominal one (true VBR, no reservoir).
int setUp(vorbis_info& info, int channels, int rate, long bitsPerSecond, bool variable) {
    const long limit = variable ? -1 : bitsPerSecond;
    return vorbis_encode_setup_managed(&info, channels, rate, limit, bitsPerSecond, limit);
}

// libvorbis has modes for a range of bitrates per rate and channel count (at 44100 Hz mono
// about 32 to 240 kbit/s) and refuses the rest; this finds the accepted bitrate nearest to
// the asked one, in whole kbit/s. Zero when there is none.
int nearestAcceptedKbps(int channels, int rate, int kbps, bool variable) {
    const auto accepted = [&](int candidate) {
        if (candidate <= 0)
            return false;
        vorbis_info probe;
        vorbis_info_init(&probe);
        const int code = setUp(probe, channels, rate, candidate * 1000L, variable);
        vorbis_info_clear(&probe);
        return code == 0;
    };
    for (int distance = 0; distance <= 1000; ++distance) {
        if (accepted(kbps - distance))
            return kbps - distance;
        if (distance > 0 && accepted(kbps + distance))
            return kbps + distance;
    }
    return 0;
}

class OggEncoder : public AudioEncoder {
public:
    ~OggEncoder() override { close(); }

    bool open(const std::string& path, const RenderPreset& preset, const AudioTags& tags,
              std::string& error) override {
        close();
        if (const auto why = unsupportedShape(preset); !why.empty()) {
            error = "OGG: " + why;
            return false;
        }
        channels_ = preset.channels;
        const bool variable = preset.variableBitrate;
        const int kbps =
            nearestAcceptedKbps(channels_, preset.sampleRate, preset.bitrateKbps, variable);
        if (kbps == 0) {
            error =
                "OGG: libvorbis has no mode for " + rateAndChannels(preset.sampleRate, channels_);
            return false;
        }
        vorbis_info_init(&info_);
        infoReady_ = true;
        int code = setUp(info_, channels_, preset.sampleRate, kbps * 1000L, variable);
        if (code == 0 && variable)
            code = vorbis_encode_ctl(&info_, OV_ECTL_RATEMANAGE2_SET, nullptr);
        if (code == 0)
            code = vorbis_encode_setup_init(&info_);
        if (code != 0) {
            error = "OGG: libvorbis refused the settings (code " + std::to_string(code) + ")";
            close();
            return false;
        }
        settings_ = std::string("libvorbis ") + (variable ? "VBR near " : "CBR ") +
                    std::to_string(kbps) + " kbit/s";
        if (kbps != preset.bitrateKbps)
            settings_ += " (" + std::to_string(preset.bitrateKbps) + " asked)";
        settings_ += " at " + rateAndChannels(preset.sampleRate, channels_);

        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            error = "OGG: cannot create " + path + ": " + std::strerror(errno);
            close();
            return false;
        }
        vorbis_comment_init(&comment_);
        vorbis_comment_add_tag(&comment_, "TITLE", tags.title.c_str());
        commentReady_ = true;
        vorbis_analysis_init(&dsp_, &info_);
        vorbis_block_init(&dsp_, &block_);
        dspReady_ = true;
        ogg_stream_init(&stream_, static_cast<int>(std::random_device{}() & 0x7FFFFFFF));
        streamReady_ = true;

        ogg_packet identification, comments, codebooks;
        vorbis_analysis_headerout(&dsp_, &comment_, &identification, &comments, &codebooks);
        ogg_stream_packetin(&stream_, &identification);
        ogg_stream_packetin(&stream_, &comments);
        ogg_stream_packetin(&stream_, &codebooks);
        // The headers get pages of their own, so that audio starts on a fresh page.
        return writePages(true, error);
    }

    bool write(const float* samples, std::size_t frames, std::string& error) override {
        if (!file_) {
            error = "OGG: the file is not open";
            return false;
        }
        while (frames > 0) {
            const std::size_t count = std::min(frames, kChunkFrames);
            float** buffer = vorbis_analysis_buffer(&dsp_, static_cast<int>(count));
            for (std::size_t i = 0; i < count; ++i)
                for (int c = 0; c < channels_; ++c)
                    buffer[c][i] = samples[i * channels_ + c];
            vorbis_analysis_wrote(&dsp_, static_cast<int>(count));
            if (!drain(error))
                return false;
            samples += count * channels_;
            frames -= count;
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (!file_) {
            error = "OGG: the file is not open";
            return false;
        }
        vorbis_analysis_wrote(&dsp_, 0); // end of stream
        bool ok = drain(error) && writePages(true, error);
        ok = closeOutput(file_, "OGG", ok, error);
        close();
        return ok;
    }

    std::string settingsUsed() const override { return settings_; }

private:
    // Moves finished blocks through the bitrate manager into Ogg pages.
    bool drain(std::string& error) {
        while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
            if (vorbis_analysis(&block_, nullptr) != 0 || vorbis_bitrate_addblock(&block_) != 0) {
                error = "OGG: libvorbis failed to encode";
                return false;
            }
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp_, &packet) == 1) {
                ogg_stream_packetin(&stream_, &packet);
                // The first audio packet gets a page of its own: decoders take the start from
                // the first audio page, and where that is also the last page, as in short
                // files, FFmpeg gets the length wrong.
                if (!writePages(firstAudio_, error))
                    return false;
                firstAudio_ = false;
            }
        }
        return true;
    }

    bool writePages(bool flush, std::string& error) {
        ogg_page page;
        while (flush ? ogg_stream_flush(&stream_, &page) : ogg_stream_pageout(&stream_, &page)) {
            const auto header = static_cast<std::size_t>(page.header_len);
            const auto body = static_cast<std::size_t>(page.body_len);
            if (std::fwrite(page.header, 1, header, file_) != header ||
                std::fwrite(page.body, 1, body, file_) != body) {
                error = std::string("OGG: cannot write the file: ") + std::strerror(errno);
                return false;
            }
        }
        return true;
    }

    void close() {
        if (file_)
            std::fclose(file_);
        file_ = nullptr;
        if (streamReady_)
            ogg_stream_clear(&stream_);
        if (dspReady_) {
            vorbis_block_clear(&block_);
            vorbis_dsp_clear(&dsp_);
        }
        if (commentReady_)
            vorbis_comment_clear(&comment_);
        if (infoReady_)
            vorbis_info_clear(&info_);
        streamReady_ = dspReady_ = commentReady_ = infoReady_ = false;
        firstAudio_ = true;
    }

    std::FILE* file_ = nullptr;
    int channels_ = 2;
    std::string settings_;
    vorbis_info info_{};
    vorbis_comment comment_{};
    vorbis_dsp_state dsp_{};
    vorbis_block block_{};
    ogg_stream_state stream_{};
    bool infoReady_ = false, commentReady_ = false, dspReady_ = false, streamReady_ = false;
    bool firstAudio_ = true;
};

} // namespace

std::unique_ptr<AudioEncoder> makeOggEncoder() {
    return std::make_unique<OggEncoder>();
}

} // namespace tonvert::render
