#include "loudness.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tonvert::render {

namespace {

constexpr int kTaps = 49;

double toDb(double level) {
    return level > 0 ? 20 * std::log10(level) : -HUGE_VAL;
}

} // namespace

TruePeakFilter::TruePeakFilter(int sampleRate) {
    const int factor = sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1;
    if (factor == 1) {
        phases_.push_back({{1.0}, {0}});
        return;
    }
    phases_.resize(static_cast<std::size_t>(factor));
    // A sinc cut at the original Nyquist frequency under a Hann window; tap j feeds phase
    // j % factor at a delay of j / factor input frames. Phase 0 only passes the samples.
    for (int j = 0; j < kTaps; ++j) {
        const double m = j - (kTaps - 1) / 2.0;
        const double x = m * M_PI / factor;
        double c = std::fabs(m) > 1e-9 ? std::sin(x) / x : 1.0;
        c *= 0.5 * (1 - std::cos(2 * M_PI * j / (kTaps - 1)));
        if (std::fabs(c) <= 1e-6)
            continue;
        Phase& phase = phases_[static_cast<std::size_t>(j % factor)];
        phase.coefficients.push_back(c);
        phase.delays.push_back(static_cast<std::size_t>(j / factor));
        history_ = std::max(history_, static_cast<std::size_t>(j / factor));
    }
    for (const Phase& phase : phases_) {
        double sum = 0;
        for (const double c : phase.coefficients)
            sum += std::fabs(c);
        gainBound_ = std::max(gainBound_, sum);
    }
}

float TruePeakFilter::peak(const float* samples, std::size_t frames, int channels) const {
    const auto stride = static_cast<std::size_t>(channels);
    float peak = 0;
    for (std::size_t n = history_; n < frames; ++n) {
        for (std::size_t c = 0; c < stride; ++c) {
            const float* newest = samples + n * stride + c;
            peak = std::max(peak, std::fabs(*newest));
            for (const Phase& phase : phases_) {
                double sum = 0;
                for (std::size_t t = 0; t < phase.coefficients.size(); ++t)
                    sum += double(newest[-static_cast<std::ptrdiff_t>(phase.delays[t] * stride)]) *
                           phase.coefficients[t];
                peak = std::max(peak, std::fabs(static_cast<float>(sum)));
            }
        }
    }
    return peak;
}

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : channels_(channels)
    , sampleRate_(sampleRate)
    , states_(static_cast<std::size_t>(channels))
    , sliceFrames_(static_cast<std::size_t>((sampleRate + 5) / 10)) {
    // BS.1770's two stages, recomputed for the rate from their analogue prototypes: a high
    // shelf of +4 dB above about 1.7 kHz, then a high-pass at about 38 Hz.
    const double rate = sampleRate;
    double k = std::tan(M_PI * 1681.974450955533 / rate);
    const double q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1 + k / q + k * k;
    shelf_ = {(vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
              2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
    k = std::tan(M_PI * 38.13547087602444 / rate);
    const double qh = 0.5003270373238773;
    a0 = 1 + k / qh + k * k;
    highPass_ = {1, -2, 1, 2 * (k * k - 1) / a0, (1 - k / qh + k * k) / a0};
}

void LoudnessMeter::weigh(const float* samples, std::size_t frames) {
    const auto stride = static_cast<std::size_t>(channels_);
    for (std::size_t f = 0; f < frames;) {
        const std::size_t n = std::min(frames - f, sliceFrames_ - sliceFilled_);
        double sum = 0;
        for (std::size_t c = 0; c < stride; ++c) {
            ChannelState s = states_[c];
            for (std::size_t i = 0; i < n; ++i) {
                const double x = samples[(f + i) * stride + c];
                const double y = shelf_.b0 * x + shelf_.b1 * s.x1 + shelf_.b2 * s.x2 -
                                 shelf_.a1 * s.y1 - shelf_.a2 * s.y2;
                s.x2 = s.x1;
                s.x1 = x;
                s.y2 = s.y1;
                s.y1 = y;
                // The high-pass in the transposed direct form II: two states instead of four.
                const double z = y + s.z1;
                s.z1 = highPass_.b1 * y - highPass_.a1 * z + s.z2;
                s.z2 = highPass_.b2 * y - highPass_.a2 * z;
                sum += z * z;
            }
            // Silence would decay the states into subnormal numbers, which are slow.
            for (double* v : {&s.x1, &s.x2, &s.y1, &s.y2, &s.z1, &s.z2})
                if (std::fabs(*v) < 1e-25)
                    *v = 0;
            states_[c] = s;
        }
        sliceSum_ += sum;
        sliceFilled_ += n;
        f += n;
        if (sliceFilled_ == sliceFrames_) {
            slices_.push_back(sliceSum_);
            sliceSum_ = 0;
            sliceFilled_ = 0;
        }
    }
}

void LoudnessMeter::add(const float* samples, std::size_t frames) {
    weigh(samples, frames);
    const auto stride = static_cast<std::size_t>(channels_);
    for (std::size_t f = 0; f < frames;) {
        const std::size_t block = frames_ / kPeakBlockFrames;
        const std::size_t n = std::min(frames - f, (block + 1) * kPeakBlockFrames - frames_);
        float peak = 0;
        for (std::size_t i = f * stride; i < (f + n) * stride; ++i)
            peak = std::max(peak, std::fabs(samples[i]));
        if (blockPeaks_.size() <= block)
            blockPeaks_.push_back(0);
        blockPeaks_[block] = std::max(blockPeaks_[block], peak);
        samplePeak_ = std::max(samplePeak_, peak);
        frames_ += n;
        f += n;
    }
}

double LoudnessMeter::integratedLoudness() const {
    // Gating blocks of four slices, a slice apart: first the absolute gate at -70 LUFS, then
    // the relative one 10 LU below the loudness of the blocks that passed it.
    const double frames = 4.0 * double(sliceFrames_);
    std::vector<double> blocks;
    for (std::size_t b = 0; b + 4 <= slices_.size(); ++b) {
        const double energy =
            (slices_[b] + slices_[b + 1] + slices_[b + 2] + slices_[b + 3]) / frames;
        if (energy >= std::pow(10.0, (-70 + 0.691) / 10))
            blocks.push_back(energy);
    }
    if (blocks.empty())
        return -HUGE_VAL;
    const double relative =
        std::accumulate(blocks.begin(), blocks.end(), 0.0) / double(blocks.size()) * 0.1;
    double sum = 0;
    std::size_t count = 0;
    for (const double energy : blocks)
        if (energy >= relative) {
            sum += energy;
            ++count;
        }
    return count == 0 ? -HUGE_VAL : 10 * std::log10(sum / double(count)) - 0.691;
}

Normalisation normalisation(const LoudnessMeter& meter, double target, double ceiling,
                            const FrameReader& read) {
    Normalisation result;
    result.loudness = meter.integratedLoudness();
    const double samplePeak = meter.samplePeak();
    if (!std::isfinite(result.loudness) || samplePeak <= 0)
        return result;
    result.measured = true;
    const double loudnessGain = target - result.loudness;
    const TruePeakFilter filter(meter.sampleRate());
    // A true peak at or below this level leaves the gain to the loudness.
    const double reachesCeiling = std::pow(10.0, (ceiling - loudnessGain) / 20);
    const auto& peaks = meter.blockPeaks();
    // What the oversampled values of a block can reach: its samples and the history before.
    std::vector<double> bounds(peaks.size());
    for (std::size_t b = 0; b < peaks.size(); ++b)
        bounds[b] = filter.gainBound() * std::max(peaks[b], b > 0 ? peaks[b - 1] : 0.0f);
    std::vector<std::size_t> order(peaks.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return bounds[a] > bounds[b]; });

    double truePeak = samplePeak;
    bool exact = true;
    const auto channels = static_cast<std::size_t>(meter.channels());
    std::vector<float> frames;
    for (const std::size_t b : order) {
        if (bounds[b] <= std::max(truePeak, reachesCeiling)) {
            // No block left can decide: the peak found is the true peak unless the rest
            // lies below the ceiling's reach, when only their bound is known.
            if (bounds[b] > truePeak) {
                exact = false;
                truePeak = bounds[b];
            }
            break;
        }
        const std::size_t first = b * LoudnessMeter::kPeakBlockFrames;
        const std::size_t count = std::min(LoudnessMeter::kPeakBlockFrames, meter.frames() - first);
        const std::size_t history = std::min(first, filter.history());
        const std::size_t zeros = filter.history() - history;
        frames.assign((zeros + history + count) * channels, 0.0f);
        if (!read(first - history, history + count, frames.data() + zeros * channels)) {
            result.readFailed = true;
            return result;
        }
        truePeak = std::max<double>(
            truePeak, filter.peak(frames.data(), frames.size() / channels, meter.channels()));
        ++result.blocksOversampled;
    }
    result.truePeak = toDb(truePeak);
    result.truePeakExact = exact;
    result.gainDb = std::min(loudnessGain, ceiling - result.truePeak);
    return result;
}

} // namespace tonvert::render
