#pragma once

#include <string>

namespace tonvert {

// The user's decimal separator, as the settings of the desktop give it.
std::string userDecimalSeparator();

// A day number as the user writes a moment: the short date, a blank, the long time.
std::string userDateTimeText(double dayNumber);

} // namespace tonvert
