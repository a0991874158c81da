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
    const double day = std::floor(dayNumber);
    const auto milliseconds =
        static_cast<int>(std::lround((dayNumber - day) * kMillisecondsPerDay));
    return QDateTime(kDayZero.addDays(static_cast<qint64>(day)), QTime(0, 0))
        .addMSecs(milliseconds);
}

} // namespace tonvert
