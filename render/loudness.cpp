#include "loudness.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
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
    : state_(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I))
    , channels_(channels)
    , sampleRate_(sampleRate) {}

LoudnessMeter::~LoudnessMeter() {
    if (state_ != nullptr)
        ebur128_destroy(&state_);
}

void LoudnessMeter::add(const float* samples, std::size_t frames) {
    if (state_ != nullptr)
        ebur128_add_frames_float(state_, samples, frames);
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
    double loudness = -HUGE_VAL;
    if (state_ == nullptr || ebur128_loudness_global(state_, &loudness) != EBUR128_SUCCESS)
        return -HUGE_VAL;
    return loudness;
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
