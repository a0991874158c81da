#include "channelRuns.h"

#include <optional>

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
// bytes below 80h: the delta's last byte and the two data bytes. So the low bytes, counted from
// where the scan starts, take those three roles in turn, and each event can be checked against
// them with a few operations on bit masks. The windows lie end to end, whatever the events;
// an event may begin in one window and end in the next.
//
// With `role` the place (0 to 2) of a window's first delta end among its low bytes, the masks
// kRoles[role] and kRoles[role + 2] pick its delta ends and its second data bytes out of them.
constexpr std::uint64_t kRoles[5] = {everyThirdBit(0), everyThirdBit(1), everyThirdBit(2),
                                     everyThirdBit(0), everyThirdBit(1)};

// Where the next window's roles start, after a window with n low bytes.
struct NextRoles {
    std::uint8_t after[3][65];
};
constexpr NextRoles makeNextRoles() {
    NextRoles next{};
    for (unsigned role = 0; role < 3; ++role)
        for (unsigned n = 0; n <= 64; ++n)
            next.after[role][n] = static_cast<std::uint8_t>((role + 66 - n) % 3);
    return next;
}
constexpr NextRoles kNextRoles = makeNextRoles();

// No place: a position that was never set.
constexpr std::size_t kNone = ~std::size_t(0);

bool isTwoDataByteStatus(std::uint8_t status) {
    return status >= 0x80 && status < 0xF0 && (status & 0xE0) != 0xC0;
}

#define TONVERT_TARGET                                                                             \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni,bmi,bmi2,lzcnt,popcnt")))

// What a status byte's low seven bits tell, looked up in two tables of 64 bytes: bit 0 for a
// kind not taken (Cx, Dx, Fx), bit 1 for a channel not met yet.
struct StatusTable {
    __m512i low;  // 00h to 3Fh: 8x to Bx
    __m512i high; // 40h to 7Fh: Cx to Fx
};

TONVERT_TARGET inline StatusTable statusTable(std::uint16_t used) {
    const std::uint64_t unknown = std::uint16_t(~used) * 0x0001000100010001ull;
    const __m512i channels = _mm512_maskz_mov_epi8(unknown, _mm512_set1_epi8(2));
    // In the high table, 40h to 5Fh (Cx, Dx) and 70h to 7Fh (Fx).
    const __m512i kinds = _mm512_maskz_mov_epi8(0xFFFF0000FFFFFFFFull, _mm512_set1_epi8(1));
    return {channels, _mm512_or_si512(channels, kinds)};
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

TONVERT_TARGET inline std::uint64_t sumLanes(__m512i lanes) {
    // Through memory: GCC 12 warns about the undefined source in its extract intrinsics.
    alignas(64) std::uint32_t sums[16];
    _mm512_store_si512(sums, lanes);
    std::uint64_t total = 0;
    for (const std::uint32_t sum : sums)
        total += sum;
    return total;
}

// Adds to `sums` the ticks that the masked deltas add: each delta's last byte, and 128 times
// its continuation byte's low bits.
TONVERT_TARGET inline __m512i addDeltas(__m512i sums, __m512i bytes, std::uint64_t deltaEnds,
                                        std::uint64_t continuations) {
    const __m512i weights =
        _mm512_mask_mov_epi8(_mm512_maskz_mov_epi8(deltaEnds, _mm512_set1_epi8(1)), continuations,
                             _mm512_set1_epi8(static_cast<char>(0x80)));
    return _mm512_dpbusd_epi32(sums, weights, _mm512_and_si512(bytes, _mm512_set1_epi8(0x7F)));
}

// Bits 0 to n.
inline std::uint64_t upTo(unsigned n) {
    return ~std::uint64_t(0) >> (63 - n);
}

TONVERT_TARGET inline unsigned highestBit(std::uint64_t bits) {
    return 63 - static_cast<unsigned>(_lzcnt_u64(bits));
}

// The windows take the first event at `p` only if its status, or for data bytes right after
// the delta the running status, is of the two-data-byte kind. Gives the channel bit the event
// adds under the running status (0 when it has a status of its own), or nothing when the
// windows cannot take it. (Meta events are turned away here cheaply; the windows check the
// rest.)
TONVERT_TARGET inline std::optional<std::uint16_t>
windowsMayStart(const std::uint8_t* data, std::size_t length, std::size_t p, std::uint8_t running) {
    if (p >= length)
        return std::nullopt;
    if (data[p] >= 0x80)
        ++p;
    if (++p >= length)
        return std::nullopt;
    if (data[p] >= 0x80)
        return isTwoDataByteStatus(data[p]) ? std::optional<std::uint16_t>(0) : std::nullopt;
    if (!isTwoDataByteStatus(running))
        return std::nullopt;
    return std::uint16_t(1u << (running & 0x0F));
}

// Takes one channel event of any kind at `p`, as walking the track event by event would.
// False, and nothing moves, at anything else: a meta, system-exclusive or system event, data
// bytes with no running status, the end of the track, an event that runs past it.
TONVERT_TARGET inline bool takeChannelEvent(const std::uint8_t* data, std::size_t length,
                                            std::size_t& p, ChannelRunState& state,
                                            std::uint64_t& ticks) {
    std::size_t q = p;
    std::uint32_t delta = 0;
    do {
        if (q >= length)
            return false;
        delta = (delta << 7) | (data[q] & 0x7F);
    } while (data[q++] >= 0x80);
    if (q >= length || data[q] >= 0xF0)
        return false;
    std::uint8_t running = state.running;
    if (data[q] >= 0x80)
        running = data[q++];
    else if (running == 0xFE)
        return false;
    const std::size_t dataBytes = (running & 0xE0) == 0xC0 ? 1 : 2;
    if (dataBytes > length - q)
        return false;
    ticks += delta;
    state.running = running;
    state.usedChannels |= std::uint16_t(1u << (running & 0x0F));
    p = q + dataBytes;
    return true;
}

// One window read under the roles: its bytes and what each byte is.
struct Window {
    __m512i bytes;
    std::uint64_t low;           // below 80h
    std::uint64_t deltaEnds;     // a delta's last byte
    std::uint64_t secondData;    // an event's last byte
    std::uint64_t statuses;      // high, right after a delta
    std::uint64_t continuations; // high otherwise: must come right before a delta's last byte
};

// `role` places the roles; `deltaEndBefore` is 1 when the byte before the window ends a delta.
TONVERT_TARGET inline Window readWindow(const std::uint8_t* data, std::size_t length,
                                        std::size_t base, unsigned role,
                                        std::uint64_t deltaEndBefore) {
    Window w;
    std::uint64_t inside;
    w.bytes = loadWindow(data, length, base, inside);
    const std::uint64_t high = _mm512_movepi8_mask(w.bytes);
    w.low = ~high & inside;
    w.deltaEnds = _pdep_u64(kRoles[role], w.low);
    w.secondData = _pdep_u64(kRoles[role + 2], w.low);
    w.statuses = high & ((w.deltaEnds << 1) | deltaEndBefore);
    w.continuations = high & ~w.statuses;
    return w;
}

// Where the last status byte of a run lies. Each whole window's statuses are logged (a store
// costs less than keeping the place up to date in the loop) and the last one is looked up when
// the run ends. With them goes how the window was read (its roles, and whether the byte before
// it ended a delta), to read it again when an event it left unfinished is taken back.
class StatusLog {
public:
    // Starts over at `base`, the start of the next window, after the status byte at `before`.
    void restart(std::size_t base, std::size_t before) {
        base_ = base;
        count_ = 0;
        before_ = before;
    }

    void add(std::uint64_t statuses, unsigned role, std::uint64_t deltaEndBefore) {
        if (count_ == kWindows) {
            // Full: what it holds comes down to its last status.
            restart(base_ + 64 * count_, last());
        }
        roles_[count_] = static_cast<std::uint8_t>(role | (deltaEndBefore << 2));
        statuses_[count_++] = statuses;
    }

    // The window logged last: how it was read, and its statuses to mend.
    unsigned lastRole() const { return roles_[count_ - 1] & 3; }
    std::uint64_t lastDeltaEndBefore() const { return roles_[count_ - 1] >> 2; }
    std::uint64_t& lastStatuses() { return statuses_[count_ - 1]; }

    // Where the last status byte lies, or kNone.
    std::size_t last() const {
        for (std::size_t k = count_; k-- > 0;)
            if (statuses_[k] != 0)
                return base_ + 64 * k + (63 - static_cast<unsigned>(__builtin_clzll(statuses_[k])));
        return before_;
    }

private:
    static constexpr std::size_t kWindows = 512;
    std::size_t base_ = 0;
    std::size_t count_ = 0;
    std::size_t before_ = kNone;
    std::uint64_t statuses_[kWindows];
    std::uint8_t roles_[kWindows];
};

// Takes the plain events from `position` on a window at a time, adding their deltas to
// `deltas`; gives where it stopped. `entryChannel` is what windowsMayStart gave.
TONVERT_TARGET std::size_t takeWindows(const std::uint8_t* data, std::size_t length,
                                       std::size_t position, std::uint16_t entryChannel,
                                       ChannelRunState& state, std::uint64_t& deltas) {
    StatusTable table = statusTable(state.usedChannels);
    // Sixteen partial sums of the deltas. They wrap around, as ticks do: only their total
    // modulo 2^32 counts.
    __m512i partialTicks = _mm512_setzero_si512();
    std::uint64_t ticks = 0;
    unsigned role = 0; // of the window, as kRoles takes it
    // Whether the last byte of the window before ends a delta or is a continuation byte, and
    // the same of the window before that.
    std::uint64_t deltaEndBefore = 0, continuationBefore = 0;
    StatusLog log;
    log.restart(position, kNone);
    std::uint16_t unfinishedNewChannel = 0;     // first met in an unfinished event ...
    std::size_t unfinishedNewChannelAt = kNone; // ... of the window here

    std::size_t base = position;
    std::size_t runStart = position; // no event taken before here is ever taken back
    for (;;) {
        const bool tail = length - base <= 64;
        const Window w = readWindow(data, length, base, role, deltaEndBefore);
        // A continuation byte must be followed by a delta's last byte: this also finds two high
        // bytes in a row (a longer delta, a data byte with its high bit set after a status) and
        // a high byte between the data bytes. The mismatch lies inside the event it breaks.
        const __m512i looked = _mm512_permutex2var_epi8(table.low, w.bytes, table.high);
        const std::uint64_t broken =
            (((w.continuations << 1) | continuationBefore) & ~w.deltaEnds) |
            _mm512_mask_test_epi8_mask(w.statuses, looked, _mm512_set1_epi8(1));

        if (broken != 0 || tail) {
            // The last window of the run: take the whole events before the first mismatch.
            const std::uint64_t eventEnds =
                broken != 0 ? w.secondData & ((broken & (0 - broken)) - 1) : w.secondData;
            if (eventEnds == 0 && base != runStart) {
                // Nothing ends here whole, not even the event left unfinished by the window
                // before: take that back.
                base -= 64;
                const Window before =
                    readWindow(data, length, base, log.lastRole(), log.lastDeltaEndBefore());
                const unsigned lastEndBefore = highestBit(before.secondData);
                const std::uint64_t unfinished = ~upTo(lastEndBefore);
                ticks -= sumLanes(addDeltas(_mm512_setzero_si512(), before.bytes,
                                            before.deltaEnds & unfinished,
                                            before.continuations & unfinished));
                if (unfinishedNewChannelAt == base)
                    state.usedChannels &= std::uint16_t(~unfinishedNewChannel);
                log.lastStatuses() = before.statuses & ~unfinished;
                base += lastEndBefore + 1;
                break;
            }
            // Bytes 0 to `taken` - 1 of the window go. When the mismatch is the status of a
            // one-data-byte message (a program change, channel pressure) that ends inside the
            // window, that event goes too, and the run goes on after it.
            unsigned taken = eventEnds != 0 ? highestBit(eventEnds) + 1 : 0;
            const unsigned first = static_cast<unsigned>(_tzcnt_u64(broken));
            const bool oneDataByte =
                broken != 0 && first >= 1 && first < 63 && ((w.statuses >> first) & 1) != 0 &&
                ((w.low >> (first + 1)) & 1) != 0 && (data[base + first] & 0xE0) == 0xC0;
            if (oneDataByte)
                taken = first + 2;
            if (taken == 0)
                return position; // nothing taken; nothing changed
            const std::uint64_t whole = upTo(taken - 1);
            partialTicks =
                addDeltas(partialTicks, w.bytes, w.deltaEnds & whole, w.continuations & whole);
            const std::uint64_t wholeStatuses = w.statuses & whole;
            for (std::uint64_t fresh =
                     _mm512_mask_test_epi8_mask(wholeStatuses, looked, _mm512_set1_epi8(2));
                 fresh != 0; fresh &= fresh - 1)
                state.usedChannels |= std::uint16_t(1u << (data[base + _tzcnt_u64(fresh)] & 0x0F));
            table = statusTable(state.usedChannels);
            log.add(wholeStatuses, role, deltaEndBefore);
            base += taken;
            // Under a one-data-byte running status the next event needs a status of its own.
            if (!oneDataByte || !windowsMayStart(data, length, base, data[base - 2]))
                break;
            log.restart(base, base - 2);
            runStart = base;
            role = 0;
            deltaEndBefore = 0;
            continuationBefore = 0;
            continue;
        }

        partialTicks = addDeltas(partialTicks, w.bytes, w.deltaEnds, w.continuations);
        // Channels met for the first time are rare: look each status up among the channels
        // known so far and note only the new ones.
        std::uint64_t fresh = _mm512_mask_test_epi8_mask(w.statuses, looked, _mm512_set1_epi8(2));
        if (fresh != 0) {
            const unsigned lastEnd = highestBit(w.secondData);
            do {
                const unsigned at = static_cast<unsigned>(_tzcnt_u64(fresh));
                const std::uint16_t channel = std::uint16_t(1u << (data[base + at] & 0x0F));
                if (at > lastEnd && (state.usedChannels & channel) == 0) {
                    unfinishedNewChannel = channel;
                    unfinishedNewChannelAt = base;
                }
                state.usedChannels |= channel;
                fresh &= fresh - 1;
            } while (fresh != 0);
            table = statusTable(state.usedChannels);
        }
        log.add(w.statuses, role, deltaEndBefore);

        role = kNextRoles.after[role][_mm_popcnt_u64(w.low)];
        deltaEndBefore = w.deltaEnds >> 63;
        continuationBefore = w.continuations >> 63;
        base += 64;
    }

    deltas += ticks + sumLanes(partialTicks);
    const std::size_t lastStatusAt = log.last();
    if (lastStatusAt != kNone)
        state.running = data[lastStatusAt];
    state.usedChannels |= entryChannel;
    return base;
}

TONVERT_TARGET std::size_t scanAvx512(const std::uint8_t* data, std::size_t length,
                                      std::size_t position, ChannelRunState& result) {
    ChannelRunState state = result;
    std::uint64_t deltas = 0;
    std::size_t p = position;
    // Runs of plain events go by windows; what stops one, if it is a channel event all the
    // same (one data byte, a long delta, a data byte with its high bit set), is taken alone.
    for (;;) {
        if (const auto entryChannel = windowsMayStart(data, length, p, state.running))
            p = takeWindows(data, length, p, *entryChannel, state, deltas);
        if (!takeChannelEvent(data, length, p, state, deltas))
            break;
    }
    if (p == position)
        return position;
    state.tick += static_cast<std::uint32_t>(deltas);
    state.lastChannelTick = state.tick;
    result = state;
    return p;
}

#undef TONVERT_TARGET

bool detectSupport() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512vbmi") &&
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
