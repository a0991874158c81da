#include "localeTexts.h"

#include <QLocale>

#include "dayNumbers.h"
#include "textCodec.h"

namespace tonvert {

// The default locale is the system's unless the program chose another.
std::string userDecimalSeparator() {
    return toBytes(QLocale().decimalPoint());
}

std::string userDateTimeText(double dayNumber) {
    const QLocale locale;
    const QDateTime moment = dateTimeOf(dayNumber);
    return toBytes(locale.toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(moment.time(), QLocale::LongFormat));
}

} // namespace tonvert
