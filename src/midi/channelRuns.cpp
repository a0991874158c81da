#include "channelRuns.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TONVERT_CHANNEL_RUNS_AVX512 1
#include <immintrin.h>
#endif

namespace tonvert {

#if defined(TONVERT_CHANNEL_RUNS_AVX512)

namespace {

// Every third bit from `first` on.
constexpr std::uint64_t everyThirdBit(int first) {
    std::uint64_t bits = 0;
    for (int i = first; i < 64; i += 3)
        bits |= std::uint64_t(1) << i;
    return bits;
}

// How a window of 64 bytes is read. Under the events this scan takes, a byte with its high bit
// set is a delta's continuation byte or a status byte, and every event holds exactly three
// bytes below 80h: the delta's last byte and the two data bytes. So the window's low bytes,
// counted from an event's start, take those three roles in turn, and each event can be checked
// against them with a few operations on bit masks.
constexpr std::uint64_t kDeltaRole = everyThirdBit(0);
constexpr std::uint64_t kFirstDataRole = everyThirdBit(1);
constexpr std::uint64_t kSecondDataRole = everyThirdBit(2);

bool isTwoDataByteStatus(std::uint8_t status) {
    return status >= 0x80 && status < 0xF0 && (status & 0xE0) != 0xC0;
}

// Bit n is set when a status byte whose top six bits make n is not taken: one-data-byte
// messages (C0h to DFh) and system messages (F0h and up).
constexpr std::uint64_t kOtherStatusBits = 0xF0FF000000000000ull;

#define TONVERT_TARGET                                                                             \
    __attribute__((target("avx512f,avx512bw,avx512vnni,avx512bitalg,bmi,bmi2,lzcnt,popcnt")))

// The channels known so far, looked up by a status byte's low six bits: the channel's bit
// repeated for the four message kinds those bits can hold besides it.
TONVERT_TARGET inline __m512i channelTable(std::uint16_t used) {
    return _mm512_set1_epi64(static_cast<long long>(used * 0x0001000100010001ull));
}

// The bytes of the window at `p`: 64, or those left before `length` and zeros after them.
TONVERT_TARGET inline __m512i loadWindow(const std::uint8_t* data, std::size_t length,
                                         std::size_t p, std::uint64_t& inside) {
    const std::size_t left = length - p;
    if (left >= 64) {
        inside = ~std::uint64_t(0);
        return _mm512_loadu_si512(data + p);
    }
    inside = (std::uint64_t(1) << left) - 1;
    return _mm512_maskz_loadu_epi8(inside, data + p);
}

TONVERT_TARGET std::uint64_t sumLanes(__m512i lanes) {
    alignas(64) std::int32_t sums[16];
    _mm512_store_si512(sums, lanes);
    std::uint64_t total = 0;
    for (const std::int32_t sum : sums)
        total += static_cast<std::uint32_t>(sum);
    return total;
}

TONVERT_TARGET std::size_t scanAvx512(const std::uint8_t* data, std::size_t length,
                                      std::size_t position, ChannelRunState& state) {
    const __m512i low7 = _mm512_set1_epi8(0x7F);
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i weight128 = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i otherStatusTable = _mm512_set1_epi64(static_cast<long long>(kOtherStatusBits));
    __m512i knownChannels = channelTable(state.usedChannels);
    // Sixteen partial sums of the deltas; each window adds at most 4 * 128 * 127 to one, so
    // they are folded into `ticks` before they could overflow.
    __m512i partialTicks = _mm512_setzero_si512();
    std::uint64_t ticks = 0;
    unsigned windowsSinceFold = 0;
    bool firstWindow = true;
    std::size_t lastStatusAt = 0;
    bool statusTaken = false;

    std::size_t p = position;
    while (p < length) {
        std::uint64_t inside;
        const __m512i bytes = loadWindow(data, length, p, inside);
        const std::uint64_t high = _mm512_movepi8_mask(bytes);
        const std::uint64_t low = ~high & inside;

        const std::uint64_t deltaEnds = _pdep_u64(kDeltaRole, low);
        const std::uint64_t firstData = _pdep_u64(kFirstDataRole, low);
        const std::uint64_t secondData = _pdep_u64(kSecondDataRole, low);
        // The window's last whole event ends at its last second data byte, if nothing before
        // breaks the pattern; the loop moves on from there without waiting for the checks.
        const unsigned lead = static_cast<unsigned>(_lzcnt_u64(secondData));
        unsigned last = 63 - lead;
        std::uint64_t taken = lead < 64 ? ~std::uint64_t(0) >> lead : 0;

        const std::uint64_t statuses = (deltaEnds << 1) & high;
        // Two high bytes in a row are a longer delta, or a data byte with its high bit set
        // after a status; a byte between the data bytes breaks the pattern too. Each mismatch
        // lies inside the event that breaks it.
        std::uint64_t broken =
            (high & (high >> 1)) | (secondData ^ (firstData << 1)) |
            _mm512_mask_bitshuffle_epi64_mask(statuses, otherStatusTable,
                                              _mm512_srli_epi16(bytes, 2));
        if (firstWindow) {
            // Data bytes first go on under the running status in force: only one of the kind
            // taken here will do.
            const bool firstHasStatus = (statuses & ((deltaEnds & (0 - deltaEnds)) << 1)) != 0;
            if (!firstHasStatus) {
                if (!isTwoDataByteStatus(state.running))
                    broken |= 1;
                else
                    state.usedChannels |= std::uint16_t(1u << (state.running & 0x0F));
            }
            firstWindow = false;
        }
        broken &= taken;
        if (secondData == 0 || broken != 0) {
            const std::uint64_t eventEnds = secondData & ((broken & (0 - broken)) - 1);
            if (eventEnds == 0)
                break;
            last = 63 - static_cast<unsigned>(_lzcnt_u64(eventEnds));
            taken = ~std::uint64_t(0) >> (63 - last);
        }

        // The deltas: their last bytes, and 128 times the continuation bytes' low bits.
        const std::uint64_t continuations = (deltaEnds >> 1) & high & taken;
        const __m512i weights = _mm512_mask_mov_epi8(
            _mm512_maskz_mov_epi8(deltaEnds & taken, one), continuations, weight128);
        partialTicks = _mm512_dpbusd_epi32(partialTicks, weights, _mm512_and_si512(bytes, low7));
        if (++windowsSinceFold == 16384) {
            ticks += sumLanes(partialTicks);
            partialTicks = _mm512_setzero_si512();
            windowsSinceFold = 0;
        }

        // Channels met for the first time are rare: look each status up among the channels
        // known so far and note only the new ones.
        const std::uint64_t takenStatuses = statuses & taken;
        std::uint64_t fresh =
            takenStatuses & ~_mm512_mask_bitshuffle_epi64_mask(takenStatuses, knownChannels, bytes);
        if (fresh != 0) {
            do {
                const unsigned at = static_cast<unsigned>(_tzcnt_u64(fresh));
                state.usedChannels |= std::uint16_t(1u << (data[p + at] & 0x0F));
                fresh &= fresh - 1;
            } while (fresh != 0);
            knownChannels = channelTable(state.usedChannels);
        }
        if (takenStatuses != 0) {
            lastStatusAt = p + 63 - _lzcnt_u64(takenStatuses);
            statusTaken = true;
        }
        p += last + 1;
    }

    if (p != position) {
        ticks += sumLanes(partialTicks);
        state.tick += static_cast<std::uint32_t>(ticks);
        state.lastChannelTick = state.tick;
        if (statusTaken)
            state.running = data[lastStatusAt];
    }
    return p;
}

#undef TONVERT_TARGET

bool detectSupport() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512bitalg") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
}

} // namespace

bool channelRunScanSupported() {
    static const bool supported = detectSupport();
    return supported;
}

std::size_t scanChannelRuns(const std::uint8_t* data, std::size_t length, std::size_t position,
                            ChannelRunState& state) {
    if (!channelRunScanSupported())
        return position;
    return scanAvx512(data, length, position, state);
}

#else

bool channelRunScanSupported() {
    return false;
}

std::size_t scanChannelRuns(const std::uint8_t*, std::size_t, std::size_t position,
                            ChannelRunState&) {
    return position;
}

#endif

} // namespace tonvert
