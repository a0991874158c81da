#include "localeTexts.h"

#include <QLocale>

#include "dayNumbers.h"
#include "textCodec.h"

namespace tonvert {

std::string userDecimalSeparator() {
    return toBytes(QLocale::system().decimalPoint());
}

std::string userDateTimeText(double dayNumber) {
    const QLocale locale = QLocale::system();
    const QDateTime moment = dateTimeOf(dayNumber);
    return toBytes(locale.toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(moment.time(), QLocale::LongFormat));
}

} // namespace tonvert
