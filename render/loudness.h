#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace tonvert::render {

// The oversampling interpolator of the true peak (EBU R 128 / ITU-R BS.1770): a polyphase
// windowed sinc of 49 taps, 4x below 96 kHz, 2x below 192 kHz, none above; the same filter
// libebur128 runs, so both find the same peaks.
class TruePeakFilter {
public:
    explicit TruePeakFilter(int sampleRate);
    // How many frames before the first one a peak is asked for the filter reads.
    std::size_t history() const { return history_; }
    // The most an interpolated value can exceed the largest sample it is made of: the largest
    // sum of absolute coefficients of a phase. Found by construction, so it bounds every
    // signal.
    double gainBound() const { return gainBound_; }
    // The largest interpolated magnitude for the frames from `history()` on of `frames`
    // interleaved frames; the first `history()` frames only feed the filter (zeros before
    // the start of a file). Never below the samples' own peak.
    float peak(const float* samples, std::size_t frames, int channels) const;

private:
    struct Phase {
        std::vector<double> coefficients;
        std::vector<std::size_t> delays; // in frames, back from the newest
    };
    std::vector<Phase> phases_;
    std::size_t history_ = 0;
    double gainBound_ = 1.0;
};

// Integrated loudness (EBU R 128, ITU-R BS.1770) of a stream that passes through once, with
// the sample peak of every block of kPeakBlockFrames frames, for the true peak to be found
// later on only the blocks that can matter. The K-weighting runs as two biquads a channel;
// each sample is squared once into its 100 ms slice, and a 400 ms gating block is the sum
// of four slices (libebur128 sums every sample four times over).
class LoudnessMeter {
public:
    static constexpr std::size_t kPeakBlockFrames = 2048;

    LoudnessMeter(int channels, int sampleRate);

    void add(const float* samples, std::size_t frames);
    double integratedLoudness() const; // LUFS; -inf for silence
    float samplePeak() const { return samplePeak_; }
    const std::vector<float>& blockPeaks() const { return blockPeaks_; }
    std::size_t frames() const { return frames_; }
    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }

private:
    struct Biquad {
        double b0, b1, b2, a1, a2;
    };
    struct ChannelState {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0; // the shelf
        double z1 = 0, z2 = 0;                 // the high-pass, fed by the shelf
    };
    void weigh(const float* samples, std::size_t frames);

    int channels_;
    int sampleRate_;
    Biquad shelf_{};
    Biquad highPass_{};
    std::vector<ChannelState> states_;
    std::size_t sliceFrames_;     // 100 ms
    std::size_t sliceFilled_ = 0; // frames in the slice being summed
    double sliceSum_ = 0;
    std::vector<double> slices_; // the sums of squares of the finished slices
    std::size_t frames_ = 0;
    float samplePeak_ = 0;
    std::vector<float> blockPeaks_;
};

// Reads `frames` interleaved frames from `first` on of the audio the meter heard.
using FrameReader = std::function<bool(std::size_t first, std::size_t frames, float* out)>;

struct Normalisation {
    bool measured = false;      // false for silence: no gain
    double loudness = 0;        // LUFS
    double truePeak = 0;        // dBTP; where the ceiling was out of reach, an upper bound
    bool truePeakExact = false; // whether truePeak is the measure or only its bound
    double gainDb = 0;          // min(target - loudness, ceiling - true peak)
    std::size_t blocksOversampled = 0;
    bool readFailed = false; // the audio could not be read back for its true peak
};

// The gain that brings the audio to `target` LUFS unless its true peak would pass `ceiling`
// dBTP. The oversampled peak is measured only where it can decide: not at all when the
// sample peak, the loudness gain and the filter's bound stay below the ceiling, else on the
// blocks, loudest first, whose bound still reaches past the peak found so far.
Normalisation normalisation(const LoudnessMeter& meter, double target, double ceiling,
                            const FrameReader& read);

} // namespace tonvert::render
