#include "midiUnit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#if defined(_WIN32)
#include <cstdio>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tonvert {

namespace {

constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kEndOfTrack = 0x2F;
constexpr std::uint8_t kTrackName = 0x03;
constexpr std::uint8_t kSetTempo = 0x51;
constexpr std::uint8_t kSysEx = 0xF0;
constexpr std::uint8_t kSysExEscape = 0xF7;
constexpr std::uint8_t kActiveSensing = 0xFE;
constexpr std::size_t kMaxNameLength = 255;

const char* const kOutOfMemory = "out of memory!";
const char* const kGarbled = "garbled MIDI data!";

std::string aboutFile(const std::string& name, const char* what) {
    return "file \n\n" + name + "\n\n" + what;
}

std::string unexpectedEnd(const std::string& name) {
    return "unexpected end of file \n\n" + name;
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) |
           p[0];
}

// Whether n bytes lie at offset o of a buffer of `size` bytes, without overflow.
bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t n) {
    return offset <= size && n <= size - offset;
}

enum class ReadResult { ok, cannotOpen, empty, outOfMemory, shortRead };

// The whole file in one read. The file is opened for reading only.
ReadResult readFileBytes(const std::string& path, MidiFileBytes& bytes) {
#if defined(_WIN32)
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return ReadResult::cannotOpen;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
    if (std::fseek(file, 0, SEEK_END) != 0)
        return ReadResult::shortRead;
    const long size = std::ftell(file);
    std::rewind(file);
    if (size <= 0)
        return ReadResult::empty;
    bytes.size = static_cast<std::size_t>(size);
    bytes.data.reset(new (std::nothrow) std::uint8_t[bytes.size]);
    if (!bytes.data)
        return ReadResult::outOfMemory;
    return std::fread(bytes.data.get(), 1, bytes.size, file) == bytes.size ? ReadResult::ok
                                                                           : ReadResult::shortRead;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ReadResult::cannotOpen;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return ReadResult::cannotOpen;
    if (info.st_size <= 0)
        return ReadResult::empty;
    bytes.size = static_cast<std::size_t>(info.st_size);
    bytes.data = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.size);
    std::size_t done = 0;
    while (done < bytes.size) {
        const ssize_t n = ::read(fd, bytes.data.get() + done, bytes.size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return ReadResult::shortRead;
        done += static_cast<std::size_t>(n);
    }
    return ReadResult::ok;
#endif
}

// A stream under construction. Kept from track to track, appending is mostly plain stores: the
// room only grows (and is given back past 1 MiB on clearing).
class StreamBuffer {
public:
    void clear() {
        size_ = 0;
        lastTick_ = 0;
        if (bytes_.size() > (std::size_t(1) << 20))
            MidiStream().swap(bytes_);
    }

    // Appends an event: the delta from the last one's tick, then its bytes.
    void append(std::uint32_t tick, const std::uint8_t* event, std::size_t n) {
        if (bytes_.size() - size_ < n + 5)
            bytes_.resize(std::max(2 * bytes_.size(), size_ + n + 5 + 256));
        std::uint8_t* out = bytes_.data() + size_;
        std::size_t at = 0;
        writeVarLen(out, 6, at, tick - lastTick_);
        std::memcpy(out + at, event, n);
        size_ += at + n;
        lastTick_ = tick;
    }

    MidiStream copy() const {
        return MidiStream(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
    }

private:
    MidiStream bytes_;
    std::size_t size_ = 0;
    std::uint32_t lastTick_ = 0;
};

// What walking a track has found so far.
struct WalkState {
    std::uint32_t tick = 0;                // of the last event, counted modulo 2^32
    std::uint32_t lastChannelTick = 0;     // of the last channel event
    unsigned usedChannels = 0;             // bit n: channel n has an event
    std::uint8_t running = kActiveSensing; // the running status; FEh while there is none
};

// The run scan. Most of a track is a run of plain channel events: a delta of one or two bytes,
// the status of a message with two data bytes (8x, 9x, Ax, Bx, Ex) or running status under
// one, and two data bytes. In such a run every event holds exactly three bytes below 80h (the
// delta's last byte and the data bytes), so counting those bytes tells each byte's role, and a
// word of eight bytes is read with a few table lookups and mask operations instead of a branch
// for each byte, which the processor cannot foresee in real tracks. Plain C++ on 64-bit words:
// the same code, and the same results, on every machine.

constexpr bool hasTwoDataBytes(unsigned status) {
    return status >= 0x80 && status < 0xF0 && (status & 0xE0) != 0xC0;
}

// Eight bytes from p, the first in the lowest byte.
std::uint64_t loadWord(const std::uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    } else {
        std::uint64_t word = 0;
        for (int i = 7; i >= 0; --i)
            word = (word << 8) | p[i];
        return word;
    }
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Bit n: byte n of the word has its high bit set.
unsigned highBits(std::uint64_t word) {
    return static_cast<unsigned>(((word & kHighBits) * 0x0002040810204081ull) >> 56);
}

struct WordTables {
    // [role][high bits]: the bytes that end a delta. The role is the place, 0 to 2, of the
    // word's first byte below 80h among the three: delta end, first and second data byte.
    std::uint8_t deltaEnds[3][256];
    std::uint8_t lowBytesMod3[256];  // how the roles move on past the word
    std::uint64_t wholeBytes[256];   // FFh in each byte whose bit is set
    std::uint64_t lowSevenBits[256]; // 7Fh in each byte whose bit is set
    // Per status byte: its channel's bit, or kUntakenStatus for a kind the scan does not take.
    std::uint32_t statusChannel[256];
};
constexpr std::uint32_t kUntakenStatus = 0x10000;

constexpr WordTables makeWordTables() {
    WordTables t{};
    for (unsigned high = 0; high < 256; ++high) {
        unsigned lows = 0;
        std::uint64_t whole = 0, seven = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if ((high >> i) & 1) {
                whole |= std::uint64_t(0xFF) << (8 * i);
                seven |= std::uint64_t(0x7F) << (8 * i);
            } else {
                ++lows;
            }
        }
        for (unsigned role = 0; role < 3; ++role) {
            unsigned at = role, ends = 0;
            for (unsigned i = 0; i < 8; ++i) {
                if ((high >> i) & 1)
                    continue;
                if (at == 0)
                    ends |= 1u << i;
                at = (at + 1) % 3;
            }
            t.deltaEnds[role][high] = static_cast<std::uint8_t>(ends);
        }
        t.lowBytesMod3[high] = static_cast<std::uint8_t>(lows % 3);
        t.wholeBytes[high] = whole;
        t.lowSevenBits[high] = seven;
        t.statusChannel[high] = hasTwoDataBytes(high) ? 1u << (high & 0x0F) : kUntakenStatus;
    }
    return t;
}
constexpr WordTables kWordTables = makeWordTables();

// The bytes of a 64-bit number's 16-bit halves of words, added: 16-bit lanes.
std::uint64_t byteLanes(std::uint64_t x) {
    return (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull);
}

// The sum of a 64-bit number's four 16-bit lanes (which must not carry).
std::uint32_t laneSum(std::uint64_t lanes) {
    return static_cast<std::uint32_t>((lanes * 0x0001000100010001ull) >> 48);
}

constexpr std::size_t kBlock = 64;

// What one pass over a block finds: where the deltas end and where the bytes with the high
// bit lie (bit n for byte n), and, over all of the block, the deltas' sums and whether any
// status might be of another kind or channel than the running status's.
struct BlockScan {
    std::uint64_t deltaEnds = 0;
    std::uint64_t high = 0;
    std::uint64_t lowSums = 0;  // the deltas' last bytes, in 16-bit lanes
    std::uint64_t highSums = 0; // the continuation bytes' low seven bits, in 16-bit lanes
    std::uint64_t otherStatus = 0;
};

BlockScan scanBlock(const std::uint8_t* at, unsigned runningChannel) {
    BlockScan scan;
    std::uint64_t words[8];
    unsigned role = 0;
    for (unsigned k = 0; k < 8; ++k) {
        words[k] = loadWord(at + 8 * k);
        const unsigned high = highBits(words[k]);
        scan.high |= std::uint64_t(high) << (8 * k);
        scan.deltaEnds |= std::uint64_t(kWordTables.deltaEnds[role][high]) << (8 * k);
        role += kWordTables.lowBytesMod3[high];
        role = role >= 3 ? role - 3 : role;
    }
    // A high byte right after a delta's end is a status; any other a continuation byte.
    const std::uint64_t statuses = scan.high & (scan.deltaEnds << 1);
    const std::uint64_t continuations = scan.high & ~statuses;
    std::uint8_t endBytes[8], statusBytes[8], continuationBytes[8];
    std::memcpy(endBytes, &scan.deltaEnds, 8);
    std::memcpy(statusBytes, &statuses, 8);
    std::memcpy(continuationBytes, &continuations, 8);
    const std::uint64_t channel = runningChannel * 0x0101010101010101ull;
    // Two words at a time: delta ends are below 80h and lie three bytes apart at least, so
    // two words' worth add up in bytes without a carry; so do continuation bytes.
    for (unsigned k = 0; k < 8; k += 2) {
        const std::uint64_t a = words[k], b = words[k + 1];
        scan.lowSums += byteLanes((a & kWordTables.wholeBytes[endBytes[k]]) +
                                  (b & kWordTables.wholeBytes[endBytes[k + 1]]));
        scan.highSums += byteLanes((a & kWordTables.lowSevenBits[continuationBytes[k]]) +
                                   (b & kWordTables.lowSevenBits[continuationBytes[k + 1]]));
        scan.otherStatus |= ((a ^ channel) & kWordTables.wholeBytes[statusBytes[k]]) |
                            ((b ^ channel) & kWordTables.wholeBytes[statusBytes[k + 1]]);
    }
    return scan;
}

// The statuses of a block's whole events, when one of them may be of another kind or channel:
// a status of a kind the scan does not take cuts the events taken back to those that end
// before it (`ends` and `statuses` shrink; false when none is left); the channels of the rest
// are noted.
bool takeStatuses(const std::uint8_t* at, std::uint64_t& ends, std::uint64_t& statuses,
                  std::uint64_t& broken, WalkState& state) {
    unsigned used = state.usedChannels, usedBefore = used;
    unsigned lastAt = 0;
    for (std::uint64_t rest = statuses; rest != 0; rest &= rest - 1) {
        const auto j = static_cast<unsigned>(std::countr_zero(rest));
        const std::uint32_t bit = kWordTables.statusChannel[at[j]];
        if (bit == kUntakenStatus) {
            broken |= std::uint64_t(1) << j;
            ends &= (std::uint64_t(1) << j) - 1;
            if (ends == 0)
                return false;
            const auto last = static_cast<unsigned>(63 - std::countl_zero(ends));
            statuses &= (std::uint64_t(2) << last) - 1;
            // The status just noted belongs to the event cut off.
            if (lastAt > last)
                used = usedBefore;
            break;
        }
        usedBefore = used;
        used |= bit;
        lastAt = j;
    }
    state.usedChannels = used;
    return true;
}

// The ticks that the deltas of the bytes in `bits` add.
std::uint32_t ticksOf(const std::uint8_t* at, std::uint64_t deltaEnds,
                      std::uint64_t continuations) {
    std::uint32_t ticks = 0;
    for (; deltaEnds != 0; deltaEnds &= deltaEnds - 1)
        ticks += at[std::countr_zero(deltaEnds)];
    for (; continuations != 0; continuations &= continuations - 1)
        ticks += std::uint32_t(at[std::countr_zero(continuations)] & 0x7F) << 7;
    return ticks;
}

// Takes the whole plain events of the 64 bytes at `at`, where an event starts. Gives the bytes
// taken, 0 for none; `stopped` tells whether something else comes right after them.
std::size_t takeBlock(const std::uint8_t* at, WalkState& state, bool& stopped) {
    const BlockScan scan = scanBlock(at, state.running & 0x0Fu);
    // A high byte right after a delta's end is a status; any other is a continuation byte,
    // which must come right before a delta's end (the last byte's is the next block's to see).
    // Where that fails the run is broken: the events that end before it are taken.
    constexpr std::uint64_t kLastByte = std::uint64_t(1) << 63;
    std::uint64_t statuses = scan.high & (scan.deltaEnds << 1);
    const std::uint64_t continuations = scan.high & ~statuses;
    std::uint64_t broken = continuations & ~((scan.deltaEnds >> 1) | kLastByte);
    // An event ends right before a continuation byte, or before a delta's end without one
    // (not before the last byte as a continuation byte: that one is not checked yet, nor
    // before a broken one).
    const std::uint64_t eventEnds =
        ((continuations & ~kLastByte) >> 1) | ((scan.deltaEnds >> 1) & ~continuations);
    std::uint64_t ends = broken != 0 ? eventEnds & (((broken & (0 - broken)) - 1) >> 1) : eventEnds;
    if (ends == 0) {
        stopped = true;
        return 0;
    }
    statuses &= (std::uint64_t(2) << (63 - std::countl_zero(ends))) - 1;
    // Statuses of a kind of two data bytes on the running status's channel, nearly all of
    // them in most tracks, need no more; without a running status no channel is known yet.
    if ((scan.otherStatus & 0x4F4F4F4F4F4F4F4Full) != 0 || state.running >= 0xF0) {
        if (!takeStatuses(at, ends, statuses, broken, state)) {
            stopped = true;
            return 0;
        }
    }
    if (statuses != 0)
        state.running = at[63 - std::countl_zero(statuses)];
    stopped = broken != 0;
    // The sums took in the bytes after the last whole event too.
    const auto last = static_cast<unsigned>(63 - std::countl_zero(ends));
    const std::uint64_t after = ~((std::uint64_t(2) << last) - 1);
    state.tick += laneSum(scan.lowSums) + (laneSum(scan.highSums) << 7) -
                  ticksOf(at, scan.deltaEnds & after, continuations & after);
    state.lastChannelTick = state.tick;
    return last + 1;
}

// Takes the runs of plain channel events from the event start p, block by block, as walking
// them one by one would; gives where it stopped, an event start.
std::size_t takeRuns(const std::uint8_t* data, std::size_t length, std::size_t p,
                     WalkState& state) {
    if (length - p < kBlock)
        return p;
    // The first event must be plain (the blocks take the rest as they come): under a running
    // status of one data byte, or none, the blocks could not tell where it ends.
    std::size_t q = p + (data[p] >> 7);
    if (data[q] >= 0x80)
        return p;
    ++q;
    if (data[q] >= 0x80) {
        if (!hasTwoDataBytes(data[q]))
            return p;
        ++q;
    } else if (!hasTwoDataBytes(state.running)) {
        return p;
    }
    if ((data[q] | data[q + 1]) >= 0x80)
        return p;
    for (;;) {
        bool stopped = false;
        p += takeBlock(data + p, state, stopped);
        if (stopped || length - p < kBlock)
            return p;
    }
}

// Walks one track's events in order, noting where the channel events end and which channels
// have events, and tells the visitor of meta(tick, event, size) for what goes to the meta
// stream, name(text, size), and, when it asks for them, channel(tick, status, data, size).
// Running status applies; End of Track ends the walk. False when the track breaks a rule: a
// delta that cannot be read, an event that runs past the end, a system status other than
// those of meta, system-exclusive and active-sensing events.
//
// Reading a folder spends its time here. When the visitor needs no channel events, the runs
// of plain channel events go to the run scan; the rest go one by one with the state in locals
// that no store can touch.
template <typename Visitor>
bool walkTrack(const std::uint8_t* data, std::size_t length, bool keepSysEx, Visitor& visitor,
               WalkState& ends) {
    std::uint32_t lastChannelTick = 0;
    unsigned used = 0;
    std::uint8_t running = kActiveSensing;
    std::size_t dataBytes = 0; // of the running status
    std::uint32_t tick = 0;
    std::size_t p = 0;
    std::size_t scanFrom = 0; // where the run scan is tried next: after what stopped it
    bool valid = true;
    while (p < length) {
        if (!Visitor::kWantsChannelEvents && p >= scanFrom) {
            WalkState state{tick, lastChannelTick, used, running};
            const std::size_t stop = takeRuns(data, length, p, state);
            if (stop != p) {
                tick = state.tick;
                lastChannelTick = state.lastChannelTick;
                used = state.usedChannels;
                running = state.running;
                dataBytes = 2;
                p = stop;
            }
            scanFrom = p + 1;
        }

        std::uint32_t delta = data[p];
        if (delta < 0x80)
            ++p;
        else if (!readVarLen(data, length, p, delta)) {
            valid = false;
            break;
        }
        tick += delta;
        if (p >= length)
            break;

        const std::uint8_t byte = data[p];
        if (byte < 0xF0) {
            // A status byte sets the running status; a data byte goes on under the one in force.
            if (byte >= 0x80) {
                running = byte;
                dataBytes = (byte & 0xE0) == 0xC0 ? 1 : 2;
                ++p;
            } else if (running == kActiveSensing) {
                visitor.meta(tick, &kActiveSensing, 1);
                continue;
            }
            if (dataBytes > length - p) {
                valid = false;
                break;
            }
            lastChannelTick = tick;
            used |= 1u << (running & 0x0F);
            if constexpr (Visitor::kWantsChannelEvents)
                visitor.channel(tick, running, data + p, dataBytes);
            p += dataBytes;
            continue;
        }
        if (byte == kMeta || byte == kSysEx || byte == kSysExEscape) {
            std::size_t q = p + 1;
            std::uint8_t type = 0;
            if (byte == kMeta) {
                if (q >= length) {
                    valid = false;
                    break;
                }
                type = data[q++];
                if (type == kEndOfTrack)
                    break;
            }
            std::uint32_t size;
            if (!readVarLen(data, length, q, size) || size > length - q) {
                valid = false;
                break;
            }
            const std::size_t next = q + size;
            if (byte == kMeta && type == kTrackName)
                visitor.name(data + q, size);
            else if (byte == kMeta || keepSysEx)
                visitor.meta(tick, data + p, next - p);
            p = next;
            continue;
        }
        // Other system statuses: only active sensing has a place.
        running = byte;
        ++p;
        if (running != kActiveSensing) {
            valid = false;
            break;
        }
        visitor.meta(tick, &kActiveSensing, 1);
    }
    ends = {tick, lastChannelTick, used, running};
    return valid;
}

// Keeps what reading a file needs of a track: the name, the meta stream and where each
// channel stream ends.
struct TrackSummary {
    static constexpr bool kWantsChannelEvents = false;
    TMidiTrack& track;
    StreamBuffer& metaStream;
    bool setsTempo = false; // the track holds a Set Tempo event

    void channel(std::uint32_t, std::uint8_t, const std::uint8_t*, std::size_t) {}
    void meta(std::uint32_t tick, const std::uint8_t* event, std::size_t n) {
        metaStream.append(tick, event, n);
        setsTempo = setsTempo || (n >= 2 && event[0] == kMeta && event[1] == kSetTempo);
    }
    void name(const std::uint8_t* text, std::size_t n) {
        if (track.name.empty())
            track.name.assign(reinterpret_cast<const char*>(text), std::min(n, kMaxNameLength));
    }
};

// Builds one channel's stream.
struct ChannelCollector {
    static constexpr bool kWantsChannelEvents = true;
    int wanted;
    StreamBuffer stream;

    void channel(std::uint32_t tick, std::uint8_t status, const std::uint8_t* data, std::size_t n) {
        if ((status & 0x0F) != wanted)
            return;
        const std::uint8_t event[3] = {status, data[0], n == 2 ? data[1] : std::uint8_t(0)};
        stream.append(tick, event, 1 + n);
    }
    void meta(std::uint32_t, const std::uint8_t*, std::size_t) {}
    void name(const std::uint8_t*, std::size_t) {}
};

} // namespace

// Reads a track's events into a track of the file; the failure message is the caller's.
struct TrackReader {
    static bool read(const std::shared_ptr<const MidiFileBytes>& file, std::size_t offset,
                     std::size_t length, bool keepSysEx, TMidiFile& midi, bool& setsTempo) {
        // The meta stream grows in a buffer kept from track to track and is copied once.
        thread_local StreamBuffer metaStream;
        metaStream.clear();
        TMidiTrack track;
        TrackSummary summary{track, metaStream};
        WalkState ends;
        if (!walkTrack(file->data.get() + offset, length, keepSysEx, summary, ends))
            return false;
        track.metaStream = metaStream.copy();
        setsTempo = summary.setsTempo;
        track.lastChannelTick = ends.lastChannelTick;
        track.usedChannels = static_cast<std::uint16_t>(ends.usedChannels);
        track.source_ = file;
        track.offset_ = offset;
        track.length_ = length;
        midi.channelStreamCount += std::popcount(track.usedChannels);
        midi.tracks.push_back(std::move(track));
        return true;
    }

    static MidiStream collect(const TMidiTrack& track, int channel) {
        ChannelCollector collector{channel, {}};
        WalkState ends;
        if (track.source_)
            walkTrack(track.source_->data.get() + track.offset_, track.length_, false, collector,
                      ends);
        return collector.stream.copy();
    }
};

const MidiStream& TMidiTrack::channelStream(int channel) const {
    auto& stream = channelStreams_.at(channel);
    if (!stream)
        stream = TrackReader::collect(*this, channel);
    return *stream;
}

namespace {

// One event of a meta stream: where it starts and ends, and its absolute tick.
struct MetaEvent {
    std::uint32_t tick;
    std::size_t begin; // the status byte
    std::size_t end;
};

// Walks a meta stream event by event. Gives false at a malformed event.
template <typename Visit> bool walkMetaStream(const MidiStream& stream, Visit&& visit) {
    const std::uint8_t* data = stream.data();
    const std::size_t length = stream.size();
    std::uint32_t tick = 0;
    std::size_t p = 0;
    while (p < length) {
        std::uint32_t delta;
        if (!readVarLen(data, length, p, delta) || p >= length)
            return false;
        tick += delta;
        const std::size_t begin = p;
        const std::uint8_t status = data[p++];
        if (status == kMeta || status == kSysEx || status == kSysExEscape) {
            if (status == kMeta && p++ >= length)
                return false;
            std::uint32_t size;
            if (!readVarLen(data, length, p, size) || size > length - p)
                return false;
            p += size;
        } else if (status != kActiveSensing) {
            return false;
        }
        if (!visit(MetaEvent{tick, begin, p}))
            return false;
    }
    return true;
}

bool isSetTempo(const MidiStream& stream, const MetaEvent& event) {
    return stream[event.begin] == kMeta && stream[event.begin + 1] == kSetTempo;
}

// Moves the Set Tempo events of later tracks into the first track's meta stream, in order of
// tick; at equal ticks the earlier track's events come first.
bool mergeTempoEvents(TMidiFile& midi) {
    if (midi.tracks.size() < 2)
        return true;
    struct Source {
        const MidiStream* stream;
        MetaEvent event;
    };
    const auto byTick = [](const Source& a, const Source& b) {
        return a.event.tick < b.event.tick;
    };
    const MidiStream& first = midi.tracks[0].metaStream;

    // The first track's events, then each later track's tempo events: runs that each come in
    // order of tick (unless a track's ticks wrapped past 2^32), merged pairwise until one is
    // left; a stable sort puts them right otherwise.
    std::vector<Source> merged;
    std::vector<std::size_t> runEnds;
    bool inOrder = true;
    const auto collect = [&](const MidiStream& stream, bool onlyTempo) {
        const std::size_t start = merged.size();
        const bool whole = walkMetaStream(stream, [&](const MetaEvent& event) {
            if (!onlyTempo || isSetTempo(stream, event))
                merged.push_back({&stream, event});
            return true;
        });
        inOrder = inOrder && std::is_sorted(merged.begin() + static_cast<std::ptrdiff_t>(start),
                                            merged.end(), byTick);
        if (merged.size() > start)
            runEnds.push_back(merged.size());
        return whole;
    };
    for (std::size_t t = 1; t < midi.tracks.size(); ++t) {
        const std::size_t before = merged.size();
        if (!collect(midi.tracks[t].metaStream, true))
            return false;
        if (runEnds.size() == 1 && before == 0 && merged.size() > 0) {
            // The first tempo events of a later track: the first track's own events go first.
            const std::vector<Source> tempos(merged.begin(), merged.end());
            merged.clear();
            runEnds.clear();
            if (!collect(first, false))
                return false;
            merged.insert(merged.end(), tempos.begin(), tempos.end());
            runEnds.push_back(merged.size());
        }
    }
    if (merged.empty())
        return true;
    if (!inOrder) {
        std::stable_sort(merged.begin(), merged.end(), byTick);
    } else {
        std::vector<Source> next(merged.size());
        while (runEnds.size() > 1) {
            std::vector<std::size_t> nextEnds;
            std::size_t start = 0;
            for (std::size_t i = 0; i < runEnds.size(); i += 2) {
                const std::size_t middle = runEnds[i];
                const std::size_t end = i + 1 < runEnds.size() ? runEnds[i + 1] : middle;
                const auto at = [&](std::size_t k) {
                    return merged.begin() + static_cast<std::ptrdiff_t>(k);
                };
                std::merge(at(start), at(middle), at(middle), at(end),
                           next.begin() + static_cast<std::ptrdiff_t>(start), byTick);
                nextEnds.push_back(end);
                start = end;
            }
            merged.swap(next);
            runEnds.swap(nextEnds);
        }
    }

    // Room for every moved event with the longest delta: the first track's own deltas only
    // get shorter when tempo events come between its events.
    std::size_t room = first.size() + 1;
    for (const Source& source : merged)
        if (source.stream != &first)
            room += source.event.end - source.event.begin + 5;
    MidiStream rebuilt(room);
    std::size_t at = 0;
    std::uint32_t lastTick = 0;
    for (const Source& source : merged) {
        if (!writeVarLen(rebuilt.data(), rebuilt.size(), at, source.event.tick - lastTick))
            return false;
        const std::size_t n = source.event.end - source.event.begin;
        if (n > rebuilt.size() - at)
            return false;
        std::memcpy(rebuilt.data() + at, source.stream->data() + source.event.begin, n);
        at += n;
        lastTick = source.event.tick;
    }
    rebuilt.resize(at);
    midi.tracks[0].metaStream = std::move(rebuilt);
    midi.tempoMerged = true;
    return true;
}

bool parseFile(const std::shared_ptr<const MidiFileBytes>& file, bool keepSysEx, TMidiFile& midi,
               std::string& message) {
    const std::string& name = midi.fileName;
    const std::uint8_t* bytes = file->data.get();
    const std::uint64_t size = file->size;

    if (!fits(size, 0, 14)) {
        message = unexpectedEnd(name);
        return false;
    }
    std::uint64_t start = 0;
    if (std::memcmp(bytes, "RIFF", 4) == 0) {
        // The form type is judged only once it and the first chunk's tag are there.
        if (!fits(size, 8, 8)) {
            message = unexpectedEnd(name);
            return false;
        }
        if (std::memcmp(bytes + 8, "RMID", 4) != 0) {
            message = aboutFile(name, "is on an unknown format!");
            return false;
        }
        std::uint64_t chunk = 12;
        for (;;) {
            if (!fits(size, chunk, 8)) {
                message = unexpectedEnd(name);
                return false;
            }
            if (std::memcmp(bytes + chunk, "data", 4) == 0) {
                if (!fits(size, chunk + 8, 14)) {
                    message = unexpectedEnd(name);
                    return false;
                }
                midi.isRmid = true;
                start = chunk + 8;
                break;
            }
            const std::uint32_t length = littleEndian32(bytes + chunk + 4);
            chunk += 8 + std::uint64_t(length) + (length & 1);
        }
    }

    const std::uint8_t* header = bytes + start;
    const bool level01 = std::memcmp(header, "MThd", 4) == 0 && bigEndian32(header + 4) == 6 &&
                         bigEndian16(header + 8) <= 1 &&
                         (bigEndian16(header + 8) != 0 || bigEndian16(header + 10) <= 1);
    if (!level01) {
        message = aboutFile(name, "is not Level 0 or 1");
        return false;
    }
    midi.format = bigEndian16(header + 8);
    midi.trackCount = bigEndian16(header + 10);
    midi.division = static_cast<std::int16_t>(bigEndian16(header + 12));

    // A track takes at least nine bytes: no more room than the file can fill.
    midi.tracks.reserve(std::min<std::uint64_t>(midi.trackCount, size / 9));
    std::uint64_t chunk = start + 14;
    bool laterTempo = false; // a later track holds tempo events to move into the first
    for (unsigned t = 0; t < midi.trackCount; ++t) {
        if (!fits(size, chunk, 8)) {
            message = unexpectedEnd(name);
            return false;
        }
        if (std::memcmp(bytes + chunk, "MTrk", 4) != 0) {
            message = aboutFile(name, "is corrupt!");
            return false;
        }
        const std::uint32_t length = bigEndian32(bytes + chunk + 4);
        if (!fits(size, chunk + 8, length)) {
            message = unexpectedEnd(name);
            return false;
        }
        if (length == 0) {
            message = aboutFile(name, "contains an empty track!");
            return false;
        }
        bool setsTempo = false;
        if (!TrackReader::read(file, chunk + 8, length, keepSysEx, midi, setsTempo)) {
            message = kOutOfMemory;
            return false;
        }
        laterTempo = laterTempo || (t > 0 && setsTempo);
        chunk += 8 + std::uint64_t(length);
    }

    if (laterTempo && !mergeTempoEvents(midi)) {
        message = kOutOfMemory;
        return false;
    }
    return true;
}

// The first track's tempo map as segments: from `tick` on, each tick lasts `secondsPerTick`,
// and `seconds` had passed at `tick`.
struct TempoSegment {
    std::uint32_t tick;
    double seconds;
    double secondsPerTick;
};

struct TempoMap {
    std::vector<TempoSegment> segments;
    // The tick of a map event that cannot be applied (a tempo of 0, a malformed event).
    std::optional<std::uint32_t> garbledAt;

    double secondsAt(std::uint32_t tick) const {
        auto after = std::upper_bound(
            segments.begin(), segments.end(), tick,
            [](std::uint32_t t, const TempoSegment& segment) { return t < segment.tick; });
        const TempoSegment& segment = *(after - 1);
        return segment.seconds + double(tick - segment.tick) * segment.secondsPerTick;
    }
};

// Walks the tempo map of a meta stream, telling `visit` of each segment in order, from the one
// at tick 0 on. Gives the tick of a map event that cannot be applied (a tempo of 0, a
// malformed event), if there is one; the walk stops there.
template <typename Visit>
std::optional<std::uint32_t> walkTempoMap(const MidiStream& stream, double tickFactor,
                                          Visit&& visit) {
    TempoSegment last{0, 0.0, tickFactor * 500000 / 1000000};
    visit(last);
    std::optional<std::uint32_t> garbledAt;
    std::uint32_t lastTick = 0;
    const bool whole = walkMetaStream(stream, [&](const MetaEvent& event) {
        lastTick = event.tick;
        if (!isSetTempo(stream, event))
            return true;
        // FF 51 len t t t: a tempo needs its three bytes, and 0 stops time.
        const std::size_t dataAt = event.begin + 3;
        if (stream[event.begin + 2] < 3 || event.end < dataAt + 3) {
            garbledAt = event.tick;
            return false;
        }
        const std::uint32_t tempo = (std::uint32_t(stream[dataAt]) << 16) |
                                    (std::uint32_t(stream[dataAt + 1]) << 8) | stream[dataAt + 2];
        if (tempo == 0) {
            garbledAt = event.tick;
            return false;
        }
        const double seconds = last.seconds + double(event.tick - last.tick) * last.secondsPerTick;
        last = {event.tick, seconds, tickFactor * tempo / 1000000};
        visit(last);
        return true;
    });
    if (!whole && !garbledAt)
        garbledAt = lastTick;
    return garbledAt;
}

TempoMap readTempoMap(const MidiStream& stream, double tickFactor) {
    TempoMap map;
    map.garbledAt = walkTempoMap(
        stream, tickFactor, [&](const TempoSegment& segment) { map.segments.push_back(segment); });
    return map;
}

// Where a channel stream's last step starts and ends, in ticks.
struct LastStep {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
};

LastStep lastStep(const MidiStream& stream) {
    LastStep step;
    std::size_t p = 0;
    while (p < stream.size()) {
        std::uint32_t delta = 0;
        readVarLen(stream.data(), stream.size(), p, delta);
        step.from = step.to;
        step.to += delta;
        p += (stream[p] & 0xE0) == 0xC0 ? 2 : 3;
    }
    return step;
}

// Whether walking a stream event by event applies a map event at `tick` on the way: it does
// when the tick lies before the stream's last event, or at or before the tick that the last
// step starts from.
bool reachesTick(const LastStep& step, std::uint32_t tick) {
    return tick < step.to || tick <= step.from;
}

} // namespace

bool readVarLen(const std::uint8_t* buffer, std::size_t limit, std::size_t& position,
                std::uint32_t& value) {
    std::size_t p = position;
    if (p >= limit)
        return false;
    std::uint32_t v = 0;
    for (;;) {
        const std::uint8_t byte = buffer[p++];
        v = (v << 7) | (byte & 0x7F);
        if (byte < 0x80)
            break;
        if (p >= limit)
            return false;
    }
    value = v;
    position = p;
    return true;
}

bool writeVarLen(std::uint8_t* buffer, std::size_t limit, std::size_t& position,
                 std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    std::size_t p = position;
    while (count > 0) {
        --count;
        if (p + 1 >= limit)
            return false;
        buffer[p++] = static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0));
    }
    position = p;
    return true;
}

void clearMidiFile(TMidiFile& midi) {
    midi = TMidiFile{};
}

namespace {

// The parse of bytes read whole, and what a failure leaves: no tracks.
bool loadFrom(const std::function<bool(MidiFileBytes&)>& read, bool keepSysEx, TMidiFile& midi,
              std::string& message) {
    bool loaded = false;
    try {
        auto file = std::make_shared<MidiFileBytes>();
        loaded = read(*file) && parseFile(file, keepSysEx, midi, message);
    } catch (const std::bad_alloc&) {
        message = kOutOfMemory;
        loaded = false;
    }
    if (!loaded) {
        midi.tracks.clear();
        midi.tracks.shrink_to_fit();
    }
    return loaded;
}

} // namespace

bool loadMidiFile(const std::string& path, bool keepSysEx, TMidiFile& midi, std::string& message) {
    clearMidiFile(midi);
    midi.fileName = path;
    message = "can't open file \n\n" + path;
    const auto read = [&](MidiFileBytes& file) {
        switch (readFileBytes(path, file)) {
        case ReadResult::cannotOpen:
            return false;
        case ReadResult::empty:
            message = aboutFile(path, "is empty!");
            return false;
        case ReadResult::outOfMemory:
            message = kOutOfMemory;
            return false;
        case ReadResult::shortRead:
            message = unexpectedEnd(path);
            return false;
        case ReadResult::ok:
            break;
        }
        return true;
    };
    return loadFrom(read, keepSysEx, midi, message);
}

bool loadMidiBytes(std::string_view bytes, const std::string& name, bool keepSysEx, TMidiFile& midi,
                   std::string& message) {
    clearMidiFile(midi);
    midi.fileName = name;
    const auto read = [&](MidiFileBytes& file) {
        if (bytes.empty()) {
            message = aboutFile(name, "is empty!");
            return false;
        }
        file.data.reset(new std::uint8_t[bytes.size()]);
        std::memcpy(file.data.get(), bytes.data(), bytes.size());
        file.size = bytes.size();
        return true;
    };
    return loadFrom(read, keepSysEx, midi, message);
}

std::optional<double> midiPlayTime(const TMidiFile& midi, std::string& message) {
    message.clear();
    double tickFactor;
    if (midi.division > 0) {
        tickFactor = 1.0 / midi.division;
    } else {
        const int frames = -static_cast<std::int8_t>((midi.division >> 8) & 0xFF);
        const int ticksPerFrame = midi.division & 0xFF;
        if (frames * ticksPerFrame == 0)
            return std::nullopt;
        tickFactor = 2.0 / (frames * ticksPerFrame);
    }
    if (midi.tracks.empty())
        return 0.0;

    // Time only grows with the tick: with a sound tempo map the latest channel event decides,
    // and one walk of the map times it.
    std::optional<std::uint32_t> latest;
    for (const TMidiTrack& track : midi.tracks)
        if (track.usedChannels != 0)
            latest = std::max(latest.value_or(0), track.lastChannelTick);
    if (!latest)
        return 0.0;
    const MidiStream& tempoStream = midi.tracks.front().metaStream;
    TempoSegment inForce{};
    std::uint32_t previousTick = 0;
    bool inOrder = true;
    const auto garbledAt = walkTempoMap(tempoStream, tickFactor, [&](const TempoSegment& segment) {
        inOrder = inOrder && segment.tick >= previousTick;
        previousTick = segment.tick;
        if (segment.tick <= *latest)
            inForce = segment;
    });
    if (!garbledAt && inOrder)
        return inForce.seconds + double(*latest - inForce.tick) * inForce.secondsPerTick;

    const TempoMap map = readTempoMap(tempoStream, tickFactor);
    if (!map.garbledAt)
        return map.secondsAt(*latest);
    double longest = 0.0;
    for (const TMidiTrack& track : midi.tracks) {
        if (track.usedChannels == 0)
            continue;
        // Only a garbled map needs the channels one by one: the time is the longest found
        // before the first channel whose walk meets the garbled event.
        for (int channel = 0; channel < 16; ++channel) {
            if ((track.usedChannels & (1u << channel)) == 0)
                continue;
            const LastStep step = lastStep(track.channelStream(channel));
            if (reachesTick(step, *map.garbledAt)) {
                message = kGarbled;
                return longest;
            }
            longest = std::max(longest, map.secondsAt(step.to));
        }
    }
    return longest;
}

} // namespace tonvert
