#pragma once

#include "clock.h"

namespace tonvert {

// The system's local date and time.
class SystemClock : public Clock {
public:
    double now() override;
};

} // namespace tonvert
