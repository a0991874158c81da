#include "systemClock.h"

#include <QDateTime>

#include "dayNumbers.h"

namespace tonvert {

double SystemClock::now() {
    return dayNumberOf(QDateTime::currentDateTime());
}

} // namespace tonvert
