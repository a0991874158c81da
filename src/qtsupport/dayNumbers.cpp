#include "dayNumbers.h"

#include <cmath>

namespace tonvert {

namespace {

const QDate kDayZero(1899, 12, 30);
constexpr double kMillisecondsPerDay = 86400000.0;

} // namespace

double dayNumberOf(const QDateTime& local) {
    return static_cast<double>(kDayZero.daysTo(local.date())) +
           local.time().msecsSinceStartOfDay() / kMillisecondsPerDay;
}

QDateTime dateTimeOf(double dayNumber) {
    double day = std::floor(dayNumber);
    auto milliseconds = std::lround((dayNumber - day) * kMillisecondsPerDay);
    if (milliseconds >= static_cast<long>(kMillisecondsPerDay)) {
        day += 1;
        milliseconds = 0;
    }
    // The fraction is the time on the clock, not time gone by since midnight: on a day the
    // clocks change the two differ by an hour.
    return QDateTime(kDayZero.addDays(static_cast<qint64>(day)),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(milliseconds)));
}

} // namespace tonvert
