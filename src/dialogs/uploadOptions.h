#pragma once

#include <string>
#include <vector>

namespace tonvert {

// One quality preset of an audio format, as the upload dialog lists it and the service reads
// it: bit rate in kbit/s, sampling rate in Hz, channels, "Y" for a variable bit rate ("N" or
// empty otherwise) and the preset's name. Numbers carry a blank as thousands separator.
struct OptionRow {
    std::string bitrate;
    std::string hz;
    std::string channels;
    std::string vbr;
    std::string quality;

    bool operator==(const OptionRow&) const = default;
};

// The formats in the order of the dialog's format box: MP3, OGG Vorbis, WMA, WAV.
inline constexpr int kUploadFormatCount = 4;

// The presets of the format at that position in the format box, in the order the service
// lists them; none for any other position.
std::vector<OptionRow> formatPresets(int format);

// The approximate size in kB of `totalPlayTime` seconds at the bit rate: kbit/s times seconds
// over eight, rounded to the nearest whole number with halves going to the even one. "?"
// when the bit rate (blanks aside) is not a whole number.
std::string estimateText(const std::string& bitrateText, int totalPlayTime);

// The text a row is sorted by under a list's sort code: the bit rate padded to 4 characters
// (+-1), the sampling rate padded to 7 (+-2), the channels (+-3), the VBR flag (+-4), the
// name for every other code. The padding is blanks in front, so that with blanks sorting
// before digits the numbers sort by value.
std::string optionSortKey(const OptionRow& row, int code);
// Whether the code sorts from the largest key down: -1 to -5.
bool sortsDescending(int code);

// The preset as the service's "PRM" field wants it: the format's three-letter code, the bit
// rate, the sampling rate, "V" or "C" for variable or constant bit rate and the channels,
// numbers without blanks, separated by commas ("MP3,320,44100,V,2").
std::string presetParameters(const std::string& formatCode, const OptionRow& row);

} // namespace tonvert
