#include "midiCorpus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tonvert::bench {

namespace {

// splitmix64: small, fast and the same everywhere, unlike the standard distributions.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A whole number from lo to hi, both included.
    std::uint32_t between(std::uint32_t lo, std::uint32_t hi) {
        return lo + static_cast<std::uint32_t>(next() % (std::uint64_t(hi) - lo + 1));
    }

    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }
    double logUniform(double lo, double hi) { return lo * std::pow(hi / lo, unit()); }

    // Roughly normal: the sum of four uniform numbers, scaled to a standard deviation of 1.
    double normal() { return (unit() + unit() + unit() + unit() - 2.0) * std::sqrt(3.0); }

private:
    std::uint64_t state_;
};

std::uint64_t fileSeed(std::uint64_t seed, std::size_t index) {
    Random mix(seed ^ (std::uint64_t(index) * 0xD1B54A32D192ED03ull));
    return mix.next();
}

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (count > 0) {
        --count;
        out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
    }
}

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putBig16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putLittle32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putText(std::vector<std::uint8_t>& out, const char* text) {
    for (const char* c = text; *c != '\0'; ++c)
        out.push_back(static_cast<std::uint8_t>(*c));
}

int channelDataBytes(std::uint8_t status) {
    const int kind = status >> 4;
    return kind == 0xC || kind == 0xD ? 1 : 2;
}

enum class StatusMode { running, explicitStatus, mixed };

// A track under construction: events in any order, sorted by tick when written. At equal
// ticks the events keep the order they were added in.
class TrackBuilder {
public:
    void channel(std::uint32_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        items_.push_back({tick, order_++, status, data1, data2, 0});
    }

    // A meta event: FF, type, length and data.
    void meta(std::uint32_t tick, std::uint8_t type, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> event{0xFF, type};
        putVarLen(event, static_cast<std::uint32_t>(data.size()));
        event.insert(event.end(), data.begin(), data.end());
        addBlob(tick, std::move(event));
    }

    void metaText(std::uint32_t tick, std::uint8_t type, const std::string& text) {
        meta(tick, type, std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    void tempo(std::uint32_t tick, std::uint32_t microsPerQuarter) {
        meta(tick, 0x51,
             {std::uint8_t(microsPerQuarter >> 16), std::uint8_t(microsPerQuarter >> 8),
              std::uint8_t(microsPerQuarter)});
    }

    // A system-exclusive event: F0, length, and the bytes after F0 up to and with F7.
    void sysEx(std::uint32_t tick, const std::vector<std::uint8_t>& body) {
        std::vector<std::uint8_t> event{0xF0};
        putVarLen(event, static_cast<std::uint32_t>(body.size()));
        event.insert(event.end(), body.begin(), body.end());
        addBlob(tick, std::move(event));
    }

    std::uint32_t lastChannelTick() const {
        std::uint32_t last = 0;
        for (const Item& item : items_)
            if (item.status != 0)
                last = std::max(last, item.tick);
        return last;
    }

    // The MTrk chunk. Running status is used only after a channel event of the same status:
    // meta and system-exclusive events cancel it.
    std::vector<std::uint8_t> chunk(StatusMode mode, Random& random) {
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::vector<std::uint8_t> body;
        body.reserve(items_.size() * 4 + 16);
        std::uint32_t now = 0;
        std::uint8_t running = 0;
        for (const Item& item : items_) {
            putVarLen(body, item.tick - now);
            now = item.tick;
            if (item.status == 0) {
                const std::vector<std::uint8_t>& blob = blobs_[item.blob];
                body.insert(body.end(), blob.begin(), blob.end());
                running = 0;
                continue;
            }
            const bool omit =
                item.status == running &&
                (mode == StatusMode::running || (mode == StatusMode::mixed && random.chance(0.5)));
            if (!omit)
                body.push_back(item.status);
            running = item.status;
            body.push_back(item.data1);
            if (channelDataBytes(item.status) == 2)
                body.push_back(item.data2);
        }
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});

        std::vector<std::uint8_t> out;
        out.reserve(body.size() + 8);
        putText(out, "MTrk");
        putBig32(out, static_cast<std::uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    struct Item {
        std::uint32_t tick;
        std::uint32_t order;
        std::uint8_t status; // 0 for a meta or system-exclusive event
        std::uint8_t data1;
        std::uint8_t data2;
        std::uint32_t blob;
    };

    void addBlob(std::uint32_t tick, std::vector<std::uint8_t> event) {
        items_.push_back({tick, order_++, 0, 0, 0, static_cast<std::uint32_t>(blobs_.size())});
        blobs_.push_back(std::move(event));
    }

    std::vector<Item> items_;
    std::vector<std::vector<std::uint8_t>> blobs_;
    std::uint32_t order_ = 0;
};

enum class Band { tiny, small, typical, large, huge, big };

enum class TempoPlace { first, oneLater, spread };

struct Plan {
    Band band = Band::typical;
    double target = 0; // bytes aimed at; the written size comes close
    unsigned format = 1;
    unsigned voices = 1;    // voices that play notes, each on one channel
    unsigned tracks = 1;    // MTrk chunks
    bool conductor = false; // format 1: the first track holds meta events only
    std::uint16_t division = 480;
    bool smpte = false;
    std::uint32_t beat = 480; // ticks of a quarter note for placing the notes
    double seconds = 180;     // about how long the song plays
    double bpm = 120;         // the tempo it starts with
    StatusMode mode = StatusMode::running;
    bool zeroVelocityOff = false;
    bool rmid = false;
    unsigned tempoEvents = 1;
    TempoPlace tempoPlace = TempoPlace::first;
    bool resetSysEx = false;
    bool songSysEx = false;
};

double sizeForBand(Band band, Random& random) {
    switch (band) {
    case Band::tiny:
        return random.between(40, 95);
    case Band::small:
        return random.logUniform(100, 5000);
    case Band::typical:
        // Log-normal around 25 KB, kept between 5 and 100 KB.
        for (;;) {
            const double size = 25000.0 * std::exp(0.75 * random.normal());
            if (size >= 5000 && size < 100000)
                return size;
        }
    case Band::large:
        return random.logUniform(100000, 700000);
    case Band::huge:
        return random.logUniform(1000000, 1900000);
    case Band::big:
        return random.logUniform(2100000, 5800000);
    }
    return 0;
}

Plan makePlan(Band band, Random& random) {
    Plan plan;
    plan.band = band;
    plan.target = sizeForBand(band, random);

    static const std::array<std::uint16_t, 9> kTicks = {96, 120, 192, 240, 384, 480, 480, 480, 960};
    plan.division = kTicks[random.between(0, kTicks.size() - 1)];
    plan.beat = plan.division;
    if (band != Band::tiny && random.chance(0.02)) {
        static const std::array<unsigned, 4> kFrames = {24, 25, 29, 30};
        static const std::array<unsigned, 6> kTicksPerFrame = {4, 8, 10, 40, 80, 100};
        const unsigned frames = kFrames[random.between(0, kFrames.size() - 1)];
        const unsigned ticks = kTicksPerFrame[random.between(0, kTicksPerFrame.size() - 1)];
        plan.smpte = true;
        plan.division = static_cast<std::uint16_t>(((256 - frames) << 8) | ticks);
        plan.beat = frames * ticks / 2;
    }

    const double mode = random.unit();
    plan.mode = mode < 0.65   ? StatusMode::running
                : mode < 0.90 ? StatusMode::explicitStatus
                              : StatusMode::mixed;
    plan.zeroVelocityOff = random.chance(0.5);
    plan.bpm = random.between(60, 180);
    switch (band) {
    case Band::tiny:
        plan.seconds = random.between(2, 12);
        break;
    case Band::small:
        plan.seconds = random.logUniform(10, 240);
        break;
    case Band::typical:
    case Band::large:
        plan.seconds = std::clamp(180 * std::exp(0.45 * random.normal()), 40.0, 900.0);
        break;
    case Band::huge:
    case Band::big:
        plan.seconds = random.between(180, 600);
        break;
    }

    if (band == Band::tiny) {
        plan.format = 0;
        plan.voices = 1;
        plan.tracks = 1;
        plan.tempoEvents = random.chance(0.6) ? 1 : 0;
        return plan;
    }

    plan.rmid = random.chance(0.03);
    const bool bigBand = band == Band::large || band == Band::huge || band == Band::big;
    plan.format = random.chance(bigBand ? 0.3 : 0.25) ? 0 : 1;

    // Voices: most files have a few to sixteen, some many; small files cannot hold many.
    const double shape = random.unit();
    unsigned voices = shape < 0.7   ? random.between(2, 16)
                      : shape < 0.9 ? random.between(16, 32)
                                    : random.between(32, 64);
    const auto roomFor = static_cast<unsigned>(std::max(1.0, plan.target / 300));
    if ((band == Band::huge || band == Band::big) && random.chance(0.6))
        voices = random.between(16, 64);
    plan.voices = std::max(1u, std::min(voices, roomFor));
    if (plan.format == 0) {
        plan.voices = std::min(plan.voices, 16u);
        plan.tracks = 1;
    } else {
        plan.conductor = plan.voices > 1 && random.chance(0.85);
        plan.tracks = plan.voices + (plan.conductor ? 1 : 0);
    }

    // Tempo maps: mostly a few changes; some files change tempo all the time.
    if (random.chance(0.05)) {
        plan.tempoEvents = 0;
    } else if (plan.target >= 4000 && random.chance(bigBand ? 0.3 : 0.12)) {
        const double most = std::min(3000.0, plan.target / 40);
        plan.tempoEvents = static_cast<unsigned>(random.logUniform(50, std::max(51.0, most)));
    } else {
        plan.tempoEvents = random.between(1, 6);
    }
    if (plan.format == 1 && plan.tracks > 1 && plan.tempoEvents > 0) {
        const double place = random.unit();
        const bool heavy = plan.tempoEvents >= 50;
        plan.tempoPlace = place < (heavy ? 0.4 : 0.1)   ? TempoPlace::oneLater
                          : place < (heavy ? 0.8 : 0.2) ? TempoPlace::spread
                                                        : TempoPlace::first;
    }
    plan.resetSysEx = random.chance(0.35);
    plan.songSysEx = plan.target >= 2000 && random.chance(0.1);
    return plan;
}

// Notes, controllers, program changes and pitch bends on one channel until about `budget`
// bytes are spent, spread over about `songTicks`: a bigger budget gives denser notes, not a
// longer song.
void writeVoice(TrackBuilder& track, Random& random, const Plan& plan, unsigned channel,
                double budget, bool setup, double songTicks) {
    const double statusCost = plan.mode == StatusMode::running          ? 0.2
                              : plan.mode == StatusMode::explicitStatus ? 1.0
                                                                        : 0.6;
    const double eventCost = 1.4 + statusCost + 2;
    double spent = 0;
    auto add = [&](std::uint32_t tick, std::uint8_t status, unsigned data1, unsigned data2) {
        track.channel(tick, static_cast<std::uint8_t>(status | channel),
                      static_cast<std::uint8_t>(data1 & 0x7F),
                      static_cast<std::uint8_t>(data2 & 0x7F));
        spent += eventCost - 2 + channelDataBytes(status);
    };

    const bool drums = channel == 9;
    if (setup) {
        if (random.chance(0.3))
            add(0, 0xB0, 0, random.between(0, 8));
        add(0, 0xC0, random.between(0, 127), 0);
        add(0, 0xB0, 7, random.between(60, 120));
        add(0, 0xB0, 10, random.between(20, 108));
        if (random.chance(0.5))
            add(0, 0xB0, 91, random.between(0, 80));
    }

    // The average step from one chord to the next that spends the budget over the song.
    const double chordSize = drums ? 2.0 : 1.375;
    const double steps = std::max(1.0, (budget - spent) / ((2 * chordSize + 0.4) * eventCost));
    const double step = std::max(0.25, songTicks / steps);
    const double beat = std::max<std::uint32_t>(plan.beat, 4);
    const int center = drums ? 42 : static_cast<int>(random.between(40, 80));
    const int spread = drums ? 8 : static_cast<int>(random.between(3, 14));
    double position = std::min(beat * random.between(0, 4), songTicks / 8);
    bool sustain = false;
    // At least one note, however small the budget.
    for (bool first = true; first || spent < budget; first = false) {
        const auto tick = static_cast<std::uint32_t>(position);
        const unsigned chord =
            drums ? random.between(1, 3) : (random.chance(0.25) ? random.between(2, 4) : 1);
        auto length =
            static_cast<std::uint32_t>(std::min(step * (0.8 + 2 * random.unit()), 4 * beat));
        length = std::max<std::uint32_t>(length, 1);
        int key = center + static_cast<int>(random.between(0, 2 * spread)) - spread;
        for (unsigned n = 0; n < chord; ++n) {
            key = std::clamp(key, 0, 127);
            add(tick, 0x90, static_cast<unsigned>(key), random.between(30, 127));
            if (plan.zeroVelocityOff)
                add(tick + length, 0x90, static_cast<unsigned>(key), 0);
            else
                add(tick + length, 0x80, static_cast<unsigned>(key), random.between(0, 64));
            key += static_cast<int>(random.between(3, 5));
        }

        const double extra = random.unit();
        if (extra < 0.05) {
            static const std::array<unsigned, 3> kControllers = {1, 11, 7};
            add(tick + random.between(0, length), 0xB0, kControllers[random.between(0, 2)],
                random.between(0, 127));
        } else if (extra < 0.065) {
            sustain = !sustain;
            add(tick, 0xB0, 64, sustain ? 127 : 0);
        } else if (extra < 0.075 && !drums) {
            // A bend up or down and back over the note.
            const unsigned steps = random.between(8, 32);
            const std::uint32_t step = std::max<std::uint32_t>(1, length / steps);
            const int depth =
                static_cast<int>(random.between(500, 8000)) * (random.chance(0.5) ? 1 : -1);
            for (unsigned s = 0; s <= steps; ++s) {
                const double shape = std::sin(3.14159265358979 * s / steps);
                const auto value =
                    static_cast<unsigned>(std::clamp(8192 + int(depth * shape), 0, 16383));
                add(tick + s * step, 0xE0, value & 0x7F, value >> 7);
            }
        } else if (extra < 0.08) {
            add(tick + random.between(0, length), 0xD0, random.between(0, 127), 0);
        } else if (extra < 0.082) {
            add(tick, 0xC0, random.between(0, 127), 0);
        }
        // Steps of a beat or more keep to a grid of sixteenth notes.
        double next = step * (0.5 + random.unit());
        if (step >= beat / 4)
            next = std::max(1.0, std::round(next / (beat / 4))) * (beat / 4);
        position += next;
    }
    if (sustain)
        add(static_cast<std::uint32_t>(position), 0xB0, 64, 0);
}

std::vector<std::uint8_t> rmidWrap(const std::vector<std::uint8_t>& smf, Random& random) {
    // An INFO list with one odd-sized name: the LIST chunk has an odd length and a pad byte.
    std::string name = "Song " + std::to_string(random.between(1, 9999));
    if ((name.size() + 1) % 2 == 0)
        name += '!';
    std::vector<std::uint8_t> list;
    putText(list, "INFO");
    putText(list, "INAM");
    putLittle32(list, static_cast<std::uint32_t>(name.size() + 1));
    list.insert(list.end(), name.begin(), name.end());
    list.push_back(0);

    std::vector<std::uint8_t> out;
    putText(out, "RIFF");
    putLittle32(out, 0); // filled below
    putText(out, "RMID");
    putText(out, "LIST");
    putLittle32(out, static_cast<std::uint32_t>(list.size()));
    out.insert(out.end(), list.begin(), list.end());
    if (list.size() % 2 != 0)
        out.push_back(0);
    putText(out, "data");
    putLittle32(out, static_cast<std::uint32_t>(smf.size()));
    out.insert(out.end(), smf.begin(), smf.end());
    if (smf.size() % 2 != 0)
        out.push_back(0);
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    return out;
}

std::vector<std::uint8_t> sysExBody(Random& random) {
    // A GS parameter change with its checksum.
    const std::uint8_t address[3] = {0x40, std::uint8_t(0x10 | random.between(0, 15)),
                                     std::uint8_t(random.between(0x15, 0x40))};
    const auto value = static_cast<std::uint8_t>(random.between(0, 127));
    std::vector<std::uint8_t> body{0x41,       0x10,       0x42,       0x12,
                                   address[0], address[1], address[2], value};
    const unsigned sum = address[0] + address[1] + address[2] + value;
    body.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    body.push_back(0xF7);
    return body;
}

std::vector<std::uint8_t> buildFile(const Plan& plan, Random& random) {
    std::vector<TrackBuilder> tracks(plan.tracks);
    TrackBuilder& first = tracks.front();
    const bool tiny = plan.band == Band::tiny;

    if (!tiny) {
        first.metaText(0, 0x03, "Song " + std::to_string(random.between(1, 99999)));
        if (random.chance(0.3))
            first.metaText(0, 0x02, "(c) " + std::to_string(random.between(1985, 2005)));
        first.meta(0, 0x58, {4, 2, 24, 8});
        if (random.chance(0.6))
            first.meta(0, 0x59, {std::uint8_t(random.between(0, 4)), 0});
    }
    if (plan.resetSysEx) {
        static const std::array<std::vector<std::uint8_t>, 3> kResets = {
            std::vector<std::uint8_t>{0x7E, 0x7F, 0x09, 0x01, 0xF7},
            std::vector<std::uint8_t>{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
            std::vector<std::uint8_t>{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}};
        first.sysEx(0, kResets[random.between(0, 2)]);
    }

    // The notes, with some voices longer than others.
    const double overhead = 14 + 8.0 * plan.tracks + 40.0 * plan.tracks + 8.0 * plan.tempoEvents;
    const double noteBytes = std::max(8.0, plan.target - overhead);
    std::vector<double> weights(plan.voices);
    double total = 0;
    for (double& weight : weights)
        total += weight = tiny ? 1.0 : 0.4 + random.unit();
    const double songTicks = plan.seconds * plan.bpm / 60 * plan.beat;
    for (unsigned voice = 0; voice < plan.voices; ++voice) {
        const unsigned trackIndex = plan.format == 0 ? 0 : voice + (plan.conductor ? 1 : 0);
        TrackBuilder& track = tracks[trackIndex];
        const unsigned channel = voice % 16;
        if (!tiny && plan.format == 1)
            track.metaText(0, 0x03, channel == 9 ? "Drums" : "Voice " + std::to_string(voice + 1));
        writeVoice(track, random, plan, channel, noteBytes * weights[voice] / total, !tiny,
                   songTicks);
    }

    std::uint32_t end = 1;
    for (const TrackBuilder& track : tracks)
        end = std::max(end, track.lastChannelTick());

    // Tempo changes and markers lie before the last note, so every reader ends at that note.
    if (plan.tempoEvents > 0) {
        const unsigned laterTrack = plan.tracks > 1 ? random.between(1, plan.tracks - 1) : 0;
        double bpm = plan.bpm;
        for (unsigned n = 0; n < plan.tempoEvents; ++n) {
            std::uint32_t tick = 0;
            if (n > 0)
                tick = plan.tempoEvents >= 50
                           ? static_cast<std::uint32_t>(double(end) * n / plan.tempoEvents)
                           : random.between(0, end - 1);
            bpm = std::clamp(bpm + random.normal() * (plan.tempoEvents >= 50 ? 2.0 : 15.0), 30.0,
                             250.0);
            unsigned trackIndex = 0;
            if (plan.tempoPlace == TempoPlace::oneLater)
                trackIndex = laterTrack;
            else if (plan.tempoPlace == TempoPlace::spread && n > 0)
                trackIndex = random.between(0, plan.tracks - 1);
            tracks[trackIndex].tempo(std::min(tick, end - 1),
                                     static_cast<std::uint32_t>(60000000.0 / bpm));
        }
    }
    if (!tiny && random.chance(0.3)) {
        const unsigned markers = random.between(1, 12);
        for (unsigned n = 0; n < markers; ++n)
            first.metaText(random.between(0, end - 1), 0x06,
                           "Section " + std::string(1, char('A' + n)));
    }
    if (plan.songSysEx) {
        const unsigned count = random.between(2, 40);
        for (unsigned n = 0; n < count; ++n)
            tracks[random.between(0, plan.tracks - 1)].sysEx(random.between(0, end - 1),
                                                             sysExBody(random));
    }

    std::vector<std::uint8_t> smf;
    putText(smf, "MThd");
    putBig32(smf, 6);
    putBig16(smf, static_cast<std::uint16_t>(plan.format));
    putBig16(smf, static_cast<std::uint16_t>(plan.tracks));
    putBig16(smf, plan.division);
    for (TrackBuilder& track : tracks) {
        const std::vector<std::uint8_t> chunk = track.chunk(plan.mode, random);
        smf.insert(smf.end(), chunk.begin(), chunk.end());
    }
    return plan.rmid ? rmidWrap(smf, random) : smf;
}

std::string fileName(std::size_t index, const Plan& plan) {
    char text[96];
    std::snprintf(text, sizeof text, "%05zu-f%u-t%u%s%s%s.%s", index, plan.format, plan.tracks,
                  plan.smpte ? "-smpte" : "", plan.tempoEvents >= 50 ? "-tempo" : "",
                  plan.tempoPlace != TempoPlace::first ? "-later" : "", plan.rmid ? "rmi" : "mid");
    return text;
}

void count(CorpusSummary& summary, const Plan& plan, std::size_t size) {
    ++summary.files;
    summary.bytes += size;
    if (size < 100)
        ++summary.under100;
    else if (size < 5000)
        ++summary.under5k;
    else if (size < 100000)
        ++summary.under100k;
    else if (size < 1000000)
        ++summary.under1m;
    else if (size < 2000000)
        ++summary.under2m;
    else
        ++summary.from2m;
    summary.format0 += plan.format == 0;
    summary.manyTracks += plan.tracks >= 16;
    summary.smpte += plan.smpte;
    summary.rmid += plan.rmid;
    summary.tempoLater += plan.tempoEvents > 0 && plan.tempoPlace != TempoPlace::first;
    summary.tempoHeavy += plan.tempoEvents >= 50;
    summary.runningOnly += plan.mode == StatusMode::running;
    summary.explicitOnly += plan.mode == StatusMode::explicitStatus;
}

} // namespace

CorpusSummary writeMidiCorpus(const std::filesystem::path& folder, std::size_t count,
                              std::uint64_t seed) {
    std::filesystem::create_directories(folder);

    // Exact shares of the size bands, shuffled: like a real collection, most files are tens
    // of kilobytes, some hundreds, a few megabytes.
    std::vector<Band> bands;
    bands.reserve(count);
    auto share = [&](Band band, std::size_t n) { bands.insert(bands.end(), n, band); };
    share(Band::tiny, count / 100);
    share(Band::small, count * 6 / 100);
    share(Band::large, count * 7 / 100);
    share(Band::huge, count * 3 / 1000);
    share(Band::big, (count * 2 + 500) / 1000);
    if (bands.size() > count)
        bands.resize(count);
    share(Band::typical, count - bands.size());
    Random shuffler(seed);
    for (std::size_t i = bands.size(); i > 1; --i)
        std::swap(bands[i - 1], bands[shuffler.next() % i]);

    CorpusSummary summary;
    for (std::size_t index = 0; index < count; ++index) {
        Random random(fileSeed(seed, index));
        const Plan plan = makePlan(bands[index], random);
        std::vector<std::uint8_t> bytes = buildFile(plan, random);
        // Tiny files stay under 100 bytes: fewer notes until they do.
        for (double shrink = 1.0; plan.band == Band::tiny && bytes.size() >= 100 && shrink > 0.1;) {
            shrink -= 0.15;
            Plan smaller = plan;
            smaller.target = plan.target * shrink;
            Random again(fileSeed(seed, index) + 1);
            bytes = buildFile(smaller, again);
        }
        const std::filesystem::path path = folder / fileName(index, plan);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
        tonvert::bench::count(summary, plan, bytes.size());
    }
    return summary;
}

void printCorpusSummary(std::ostream& out, const CorpusSummary& summary) {
    char line[160];
    std::snprintf(line, sizeof line, "%zu files, %.1f MB (MB = 10^6 bytes)\n", summary.files,
                  double(summary.bytes) / 1e6);
    out << line;
    std::snprintf(line, sizeof line,
                  "  by size: %zu under 100 B, %zu under 5 KB, %zu 5-100 KB, %zu 100 KB-1 MB, "
                  "%zu 1-2 MB, %zu 2 MB and more\n",
                  summary.under100, summary.under5k, summary.under100k, summary.under1m,
                  summary.under2m, summary.from2m);
    out << line;
    std::snprintf(line, sizeof line,
                  "  %zu format 0, %zu with 16+ tracks, %zu SMPTE, %zu RMID, %zu tempo in later "
                  "tracks, %zu with 50+ tempo changes\n",
                  summary.format0, summary.manyTracks, summary.smpte, summary.rmid,
                  summary.tempoLater, summary.tempoHeavy);
    out << line;
    std::snprintf(line, sizeof line,
                  "  status bytes: %zu running status, %zu explicit, %zu mixed\n",
                  summary.runningOnly, summary.explicitOnly,
                  summary.files - summary.runningOnly - summary.explicitOnly);
    out << line;
}

} // namespace tonvert::bench
