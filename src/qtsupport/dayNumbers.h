#pragma once

#include <QDateTime>

namespace tonvert {

// Day numbers count days since 30 December 1899, with the time of day as the fraction; the
// list files keep the time of their refresh so.
double dayNumberOf(const QDateTime& local);
QDateTime dateTimeOf(double dayNumber);

} // namespace tonvert
