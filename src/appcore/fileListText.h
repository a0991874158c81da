#pragma once

#include <cstdint>
#include <string>

namespace tonvert {

// A play time as the local MIDI pane shows it: whole seconds (halves to the even second)
// as minutes and seconds, each at least two digits: 187.2 s is "03:07", 7500 s "125:00".
std::string playTimeText(double seconds);

// A size in bytes with blanks between groups of three digits: 1234567 is "1 234 567".
std::string sizeText(std::uint64_t bytes);

// A day number as the list files keep their refresh time: up to 15 significant digits with
// the user's decimal separator, as readFloat reads it back.
std::string dayNumberText(double dayNumber, const std::string& decimalSeparator);

} // namespace tonvert
