#include "uploadOptions.h"

#include <charconv>
#include <cstdint>

#include "serverSupportUnit.h"

namespace tonvert {

namespace {

// A level of a format's presets. A level without channels stands for four presets, stereo
// and mono each with a variable and a constant bit rate, named after the level.
struct Level {
    int format;
    const char* bitrate;
    const char* hz;
    const char* channels;
    const char* vbr;
    const char* name;
};

// The service knows the presets by these very texts and in this order.
constexpr Level kLevels[] = {
    {0, "320", "44 100", nullptr, nullptr, "Insane"},
    {0, "256", "44 100", nullptr, nullptr, "Extreme"},
    {0, "224", "44 100", nullptr, nullptr, "Very high"},
    {0, "192", "44 100", nullptr, nullptr, "High (CD-like)"},
    {0, "160", "44 100", nullptr, nullptr, "Medium high"},
    {0, "128", "44 100", nullptr, nullptr, "Standard"},
    {0, "112", "44 100", nullptr, nullptr, "Medium low"},
    {0, "96", "44 100", nullptr, nullptr, "Low"},
    {0, "80", "44 100", nullptr, nullptr, "Stingy"},
    {0, "64", "44 100", nullptr, nullptr, "Pre-listen"},
    {0, "56", "44 100", nullptr, nullptr, "Lowest"},

    {1, "500", "44 100", nullptr, nullptr, "10 (highest)"},
    {1, "350", "44 100", nullptr, nullptr, "9"},
    {1, "256", "44 100", nullptr, nullptr, "8"},
    {1, "224", "44 100", nullptr, nullptr, "7"},
    {1, "192", "44 100", nullptr, nullptr, "6 (CD-like)"},
    {1, "160", "44 100", nullptr, nullptr, "5"},
    {1, "128", "44 100", nullptr, nullptr, "4"},
    {1, "112", "44 100", nullptr, nullptr, "3 (standard)"},
    {1, "96", "44 100", nullptr, nullptr, "2"},
    {1, "64", "44 100", nullptr, nullptr, "1 (lowest)"},

    {2, "192", "48 000", "2", "", "Highest (DAT-like)"},
    {2, "160", "48 000", "2", "", "High++"},
    {2, "128", "48 000", "2", "", "High+"},
    {2, "192", "44 100", "2", "", "High (CD-like)"},
    {2, "160", "44 100", "2", "", "Medium high+ (near CD)"},
    {2, "128", "44 100", "2", "", "Medium high"},
    {2, "96", "44 100", "2", "", "Standard++"},
    {2, "80", "44 100", "2", "", "Standard+"},
    {2, "64", "44 100", "2", "", "Standard"},
    {2, "48", "44 100", "2", "", "Medium low (56k modem)"},
    {2, "32", "44 100", "2", "", "Medium low- (56k modem)"},
    {2, "48", "44 100", "1", "", "Medium low (56k modem) - mono"},
    {2, "32", "44 100", "1", "", "Medium low- (56k modem) - mono"},
    {2, "48", "32 000", "2", "", "Medium low--"},
    {2, "40", "32 000", "2", "", "Medium low---"},
    {2, "32", "32 000", "2", "", "Low (FM radio)"},
    {2, "20", "32 000", "1", "", "Low (FM radio) - mono"},
    {2, "32", "22 050", "2", "", "Low- (multimedia)"},
    {2, "22", "22 050", "2", "", "Low--"},
    {2, "20", "22 050", "2", "", "Low---"},
    {2, "20", "22 050", "1", "", "Low--- mono"},
    {2, "16", "22 050", "1", "", "Lowest - mono"},

    // The service expects these rates as they stand, 703 included.
    {3, "1 500", "48 000", "2", "N", "DAT - stereo"},
    {3, "750", "48 000", "1", "N", "DAT - mono"},
    {3, "1 378", "44 100", "2", "N", "CD - stereo"},
    {3, "689", "44 100", "1", "N", "CD - mono"},
    {3, "703", "22 050", "2", "N", "FM - stereo"},
    {3, "352", "22 050", "1", "N", "FM - mono"},
};

struct Variant {
    const char* channels;
    const char* vbr;
    const char* name;
};

constexpr Variant kVariants[] = {
    {"2", "Y", "VBR stereo"},
    {"2", "N", "CBR stereo"},
    {"1", "Y", "VBR mono"},
    {"1", "N", "CBR mono"},
};

// What joins a level's name and a variant's, per format; WMA and WAV list no variants.
constexpr const char* kVariantSeparators[kUploadFormatCount] = {" ", " - ", "", ""};

std::string padded(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

} // namespace

std::vector<OptionRow> formatPresets(int format) {
    std::vector<OptionRow> rows;
    if (format < 0 || format >= kUploadFormatCount)
        return rows;
    for (const Level& level : kLevels) {
        if (level.format != format)
            continue;
        if (level.channels != nullptr) {
            rows.push_back({level.bitrate, level.hz, level.channels, level.vbr, level.name});
            continue;
        }
        for (const Variant& variant : kVariants)
            rows.push_back({level.bitrate, level.hz, variant.channels, variant.vbr,
                            std::string(level.name) + kVariantSeparators[format] + variant.name});
    }
    return rows;
}

std::string estimateText(const std::string& bitrateText, int totalPlayTime) {
    const std::string digits = removeBlanks(bitrateText);
    std::int32_t kbps = 0;
    const char* const last = digits.data() + digits.size();
    const auto [end, error] = std::from_chars(digits.data(), last, kbps);
    if (digits.empty() || error != std::errc() || end != last)
        return "?";
    const std::int64_t bits = std::int64_t{kbps} * totalPlayTime;
    const std::uint64_t magnitude =
        bits < 0 ? 0 - static_cast<std::uint64_t>(bits) : static_cast<std::uint64_t>(bits);
    std::uint64_t kilobytes = magnitude / 8;
    const std::uint64_t rest = magnitude % 8;
    if (rest > 4 || (rest == 4 && kilobytes % 2 == 1))
        ++kilobytes;
    return (bits < 0 && kilobytes != 0 ? "-" : "") + std::to_string(kilobytes);
}

bool sortsDescending(int code) {
    return code >= -5 && code <= -1;
}

std::string optionSortKey(const OptionRow& row, int code) {
    switch (code) {
    case 1:
    case -1:
        return padded(row.bitrate, 4);
    case 2:
    case -2:
        return padded(row.hz, 7);
    case 3:
    case -3:
        return row.channels;
    case 4:
    case -4:
        return row.vbr;
    default:
        return row.quality;
    }
}

std::string presetParameters(const std::string& formatCode, const OptionRow& row) {
    return formatCode + "," + removeBlanks(row.bitrate) + "," + removeBlanks(row.hz) + "," +
           (row.vbr == "Y" ? "V" : "C") + "," + removeBlanks(row.channels);
}

} // namespace tonvert
