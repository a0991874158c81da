#include <cmath>
#include <ebur128.h>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "loudness.h"

namespace tonvert::render {
namespace {

constexpr int kRate = 44100;

// libebur128's full measure of interleaved stereo: integrated loudness and true peak (dBTP).
struct FullMeasure {
    double loudness = 0;
    double truePeak = 0;
};

FullMeasure fullMeasure(const std::vector<float>& samples, int channels = 2, int rate = kRate) {
    ebur128_state* state =
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(state, samples.data(), samples.size() / std::size_t(channels));
    FullMeasure m;
    ebur128_loudness_global(state, &m.loudness);
    double peak = 0;
    for (unsigned c = 0; c < unsigned(channels); ++c) {
        double p = 0;
        ebur128_true_peak(state, c, &p);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&state);
    m.truePeak = 20 * std::log10(peak);
    return m;
}

double samplePeakDb(const std::vector<float>& samples) {
    float peak = 0;
    for (const float s : samples)
        peak = std::max(peak, std::fabs(s));
    return 20 * std::log10(peak);
}

Normalisation normalise(const std::vector<float>& samples, double target, double ceiling) {
    LoudnessMeter meter(2, kRate);
    // In uneven pieces, as the synthesizer hands them over.
    for (std::size_t f = 0; f < samples.size() / 2; f += 1000)
        meter.add(samples.data() + 2 * f, std::min<std::size_t>(1000, samples.size() / 2 - f));
    return normalisation(meter, target, ceiling,
                         [&](std::size_t first, std::size_t frames, float* out) {
                             if (2 * (first + frames) > samples.size())
                                 return false;
                             std::copy_n(samples.data() + 2 * first, 2 * frames, out);
                             return true;
                         });
}

std::vector<float> withGain(std::vector<float> samples, double gainDb) {
    const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20));
    for (float& s : samples)
        s *= gain;
    return samples;
}

TEST(TruePeak, FilterMatchesTheFullMeasureAndItsBoundHolds) {
    const TruePeakFilter filter(kRate);
    EXPECT_GT(filter.gainBound(), 1.0);
    EXPECT_LT(filter.gainBound(), 2.0);
    // Noise at full scale never passes the bound, and the peak is found as libebur128 finds it.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1, 1);
    std::vector<float> noise(2 * 3 * kRate);
    for (float& s : noise)
        s = uniform(random);
    std::vector<float> padded(2 * filter.history(), 0.0f);
    padded.insert(padded.end(), noise.begin(), noise.end());
    const float peak = filter.peak(padded.data(), padded.size() / 2, 2);
    EXPECT_LE(peak, filter.gainBound());
    EXPECT_NEAR(20 * std::log10(peak), fullMeasure(noise).truePeak, 0.001);

    // The worst case: samples of ±1 signed like the coefficients of one phase (a sinc centred
    // a quarter, a half or three quarters between two samples) reach the bound exactly, so
    // no tighter bound can be had from the sample peak alone.
    double worst = 0;
    for (const double offset : {0.25, 0.5, 0.75}) {
        std::vector<float> signs(2 * kRate / 10);
        for (std::size_t k = 0; k < signs.size() / 2; ++k) {
            const double x = double(k) - 2000 - offset;
            signs[2 * k] = signs[2 * k + 1] = std::sin(M_PI * x) / x >= 0 ? 1.0f : -1.0f;
        }
        worst = std::max(worst, std::pow(10.0, fullMeasure(signs).truePeak / 20));
    }
    EXPECT_NEAR(worst, filter.gainBound(), 1e-4);
}

TEST(Loudness, TheMeterAgreesWithLibebur128AtEveryRateAndChannelCount) {
    // A rising tone in noise with a silent stretch, so both gates have blocks to drop.
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0, 0.05f);
    for (const int rate : {22050, 44100, 48000})
        for (const int channels : {1, 2}) {
            std::vector<float> samples(static_cast<std::size_t>(channels * rate * 6));
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const double t = double(i / std::size_t(channels)) / rate;
                const double level = t > 2 && t < 3 ? 0.0 : t / 6;
                samples[i] = static_cast<float>(level * std::sin(2 * M_PI * 200 * t * (1 + t)) +
                                                level * noise(random));
            }
            LoudnessMeter meter(channels, rate);
            for (std::size_t f = 0; f < samples.size() / std::size_t(channels); f += 777)
                meter.add(samples.data() + f * std::size_t(channels),
                          std::min<std::size_t>(777, samples.size() / std::size_t(channels) - f));
            EXPECT_NEAR(meter.integratedLoudness(), fullMeasure(samples, channels, rate).loudness,
                        1e-6)
                << rate << " Hz, " << channels << " channel(s)";
        }
    LoudnessMeter silent(2, kRate);
    const std::vector<float> zeros(2 * kRate);
    silent.add(zeros.data(), kRate);
    EXPECT_EQ(silent.integratedLoudness(), -HUGE_VAL);
}

TEST(Normalisation, IntersamplePeakMeetsTheCeilingAndQuietMusicSkipsTheOversampling) {
    // Short bursts of a quarter-rate sine sampled at 45 degrees: every sample sits 3 dB below
    // the wave's crest, so the true peak is 3 dB over the sample peak.
    std::vector<float> bursts(2 * 5 * kRate, 0.0f);
    for (std::size_t start = 0; start + 64 < bursts.size() / 2; start += kRate / 10)
        for (std::size_t n = 0; n < 32; ++n) {
            const auto s = static_cast<float>(0.5 * std::sin(M_PI * double(n) / 2 + M_PI / 4));
            bursts[2 * (start + n)] = bursts[2 * (start + n) + 1] = s;
        }
    const FullMeasure before = fullMeasure(bursts);
    ASSERT_GT(before.truePeak, samplePeakDb(bursts) + 2.5);
    // A target the ceiling has to stop: the loudness gain would take the true peak 1.5 dB
    // past it, though the sample peak would stay below.
    const double ceiling = -1.0;
    const double target = before.loudness + (ceiling - before.truePeak) + 1.5;
    const Normalisation n = normalise(bursts, target, ceiling);
    ASSERT_TRUE(n.measured);
    EXPECT_TRUE(n.truePeakExact);
    EXPECT_GT(n.blocksOversampled, 0u);
    EXPECT_NEAR(n.loudness, before.loudness, 1e-9);
    EXPECT_NEAR(n.truePeak, before.truePeak, 0.01);
    EXPECT_LT(samplePeakDb(bursts) + target - n.loudness, ceiling);
    EXPECT_NEAR(n.gainDb, ceiling - before.truePeak, 0.01);
    const FullMeasure after = fullMeasure(withGain(bursts, n.gainDb));
    EXPECT_NEAR(after.truePeak, ceiling, 0.1);
    EXPECT_NEAR(after.loudness, target - 1.5, 0.1);

    // Far from the ceiling the loudness alone decides, and nothing is oversampled.
    const Normalisation quiet = normalise(bursts, -30, ceiling);
    EXPECT_EQ(quiet.blocksOversampled, 0u);
    EXPECT_FALSE(quiet.truePeakExact);
    EXPECT_GE(quiet.truePeak, before.truePeak);
    EXPECT_DOUBLE_EQ(quiet.gainDb, -30 - quiet.loudness);
    EXPECT_NEAR(fullMeasure(withGain(bursts, quiet.gainDb)).loudness, -30, 0.1);

    // Silence gets no gain; a reader that fails is told apart from it.
    EXPECT_FALSE(normalise(std::vector<float>(2 * kRate, 0.0f), -16, ceiling).measured);
    LoudnessMeter meter(2, kRate);
    meter.add(bursts.data(), bursts.size() / 2);
    EXPECT_TRUE(
        normalisation(meter, target, ceiling, [](auto, auto, auto) { return false; }).readFailed);
}

} // namespace
} // namespace tonvert::render
