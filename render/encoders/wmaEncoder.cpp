#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "encoders.h"

namespace tonvert::render {

namespace {

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

class WmaEncoder : public AudioEncoder {
public:
    ~WmaEncoder() override { close(); }

    bool open(const std::string& path, const RenderPreset& preset, const AudioTags& tags,
              std::string& error) override {
        close();
        if (const auto why = unsupportedShape(preset); !why.empty()) {
            error = "WMA: " + why;
            return false;
        }
        channels_ = preset.channels;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec) {
            error = "WMA: this FFmpeg has no wmav2 encoder";
            return false;
        }
        int code = avformat_alloc_output_context2(&format_, nullptr, "asf", path.c_str());
        if (code < 0 || !format_) {
            error = "WMA: no ASF muxer: " + avError(code);
            return false;
        }

        // wmav2 refuses bitrates below 24 kbit/s; the nearest one it opens with is taken.
        int kbps = preset.bitrateKbps;
        const int refusal = openCodec(codec, preset.sampleRate, kbps);
        for (int distance = 1; distance <= 256 && !codec_; ++distance) {
            for (const int candidate :
                 {preset.bitrateKbps - distance, preset.bitrateKbps + distance}) {
                if (codec_ || candidate <= 0)
                    continue;
                openCodec(codec, preset.sampleRate, candidate);
                kbps = candidate;
            }
        }
        if (!codec_) {
            error = "WMA: wmav2 cannot encode " + rateAndChannels(preset.sampleRate, channels_) +
                    " near " + std::to_string(preset.bitrateKbps) + " kbit/s: " + avError(refusal);
            close();
            return false;
        }
        // wmav2 rounds the bitrate to whole bytes per frame and caps the frame size, so the
        // one it ended up with is reported.
        kbps = static_cast<int>((codec_->bit_rate + 500) / 1000);
        settings_ = "FFmpeg wmav2 CBR " + std::to_string(kbps) + " kbit/s";
        if (kbps != preset.bitrateKbps)
            settings_ += " (" + std::to_string(preset.bitrateKbps) + " asked)";
        settings_ += " at " + rateAndChannels(preset.sampleRate, channels_);

        stream_ = avformat_new_stream(format_, nullptr);
        if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, codec_) < 0) {
            error = "WMA: cannot add the audio stream";
            close();
            return false;
        }
        stream_->time_base = codec_->time_base;
        av_dict_set(&format_->metadata, "title", tags.title.c_str(), 0);
        if ((code = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
            error = "WMA: cannot create " + path + ": " + avError(code);
            close();
            return false;
        }
        // The ASF muxer does not split audio frames across its fixed-size packets, so with
        // its default of 3200 bytes a 192 kbit/s stream at 44100 Hz (1114-byte frames) fills
        // two thirds of each packet and the file grows by half. Packets sized to whole frames
        // plus their headers (17 bytes per payload, the rest for the packet's own) keep the
        // file at its bitrate.
        const int perFrame = codec_->block_align + 17;
        const int framesPerPacket = std::max(1, 3200 / perFrame);
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "packet_size", framesPerPacket * perFrame + 32, 0);
        code = avformat_write_header(format_, &options);
        av_dict_free(&options);
        if (code < 0) {
            error = "WMA: cannot write the ASF header: " + avError(code);
            close();
            return false;
        }
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!frame_ || !packet_) {
            error = "WMA: out of memory";
            close();
            return false;
        }
        frame_->nb_samples = codec_->frame_size;
        frame_->format = codec_->sample_fmt;
        frame_->sample_rate = codec_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 ||
            (code = av_frame_get_buffer(frame_, 0)) < 0) {
            error = "WMA: cannot make a frame buffer: " + avError(code);
            close();
            return false;
        }
        // Decoders put out nothing for the first frame (its window has no first half), so a
        // frame of silence goes first and the music starts whole.
        if (!sendPadded(error)) {
            close();
            return false;
        }
        return true;
    }

    bool write(const float* samples, std::size_t frames, std::string& error) override {
        if (!packet_) {
            error = "WMA: the file is not open";
            return false;
        }
        const auto frameSize = static_cast<std::size_t>(codec_->frame_size);
        while (frames > 0) {
            if (pending_ == 0 && av_frame_make_writable(frame_) < 0) {
                error = "WMA: cannot reuse the frame buffer";
                return false;
            }
            const std::size_t count = std::min(frames, frameSize - pending_);
            for (int c = 0; c < channels_; ++c) {
                auto* plane = reinterpret_cast<float*>(frame_->data[c]) + pending_;
                for (std::size_t i = 0; i < count; ++i)
                    plane[i] = samples[i * channels_ + c];
            }
            pending_ += count;
            samples += count * channels_;
            frames -= count;
            if (pending_ == frameSize && !send(frame_, error))
                return false;
        }
        return true;
    }

    bool finish(std::string& error) override {
        if (!packet_) {
            error = "WMA: the file is not open";
            return false;
        }
        bool ok = pending_ == 0 || sendPadded(error);
        ok = ok && send(nullptr, error);
        if (ok) {
            if (const int code = av_write_trailer(format_); code < 0) {
                error = "WMA: cannot finish the ASF file: " + avError(code);
                ok = false;
            }
        }
        if (const int code = avio_closep(&format_->pb); ok && code < 0) {
            error = "WMA: cannot close the file: " + avError(code);
            ok = false;
        }
        close();
        return ok;
    }

    std::string settingsUsed() const override { return settings_; }

private:
    // Leaves codec_ set when wmav2 opens with these settings, else returns its error.
    int openCodec(const AVCodec* codec, int rate, int kbps) {
        AVCodecContext* context = avcodec_alloc_context3(codec);
        if (!context)
            return AVERROR(ENOMEM);
        context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        context->sample_rate = rate;
        context->bit_rate = kbps * 1000LL;
        context->time_base = AVRational{1, rate};
        av_channel_layout_default(&context->ch_layout, channels_);
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Refusals while looking for an accepted bitrate are expected, not worth a log line.
        context->log_level_offset = AV_LOG_DEBUG;
        const int code = avcodec_open2(context, codec, nullptr);
        context->log_level_offset = 0;
        if (code < 0) {
            avcodec_free_context(&context);
            return code;
        }
        codec_ = context;
        return 0;
    }

    // Sends the frame with silence after the samples it has.
    bool sendPadded(std::string& error) {
        if (av_frame_make_writable(frame_) < 0) {
            error = "WMA: cannot reuse the frame buffer";
            return false;
        }
        for (int c = 0; c < channels_; ++c) {
            auto* plane = reinterpret_cast<float*>(frame_->data[c]);
            std::fill(plane + pending_, plane + codec_->frame_size, 0.0f);
        }
        return send(frame_, error);
    }

    bool send(AVFrame* frame, std::string& error) {
        if (frame) {
            frame->pts = samplesSent_;
            samplesSent_ += frame->nb_samples;
        }
        pending_ = 0;
        int code = avcodec_send_frame(codec_, frame);
        while (code >= 0) {
            code = avcodec_receive_packet(codec_, packet_);
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
                return true;
            if (code < 0)
                break;
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            code = av_interleaved_write_frame(format_, packet_);
        }
        error = "WMA: encoding failed: " + avError(code);
        return false;
    }

    void close() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        if (format_) {
            if (format_->pb)
                avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
        format_ = nullptr;
        stream_ = nullptr;
        pending_ = 0;
        samplesSent_ = 0;
    }

    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int channels_ = 2;
    std::size_t pending_ = 0;
    int64_t samplesSent_ = 0;
    std::string settings_;
};

} // namespace

std::unique_ptr<AudioEncoder> makeWmaEncoder() {
    return std::make_unique<WmaEncoder>();
}

} // namespace tonvert::render
