#pragma once

namespace tonvert {

// The local date and time as a day number: days since 30 December 1899, the time of day as
// the fraction. The application reads the system clock; tests set the time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() = 0;
};

} // namespace tonvert
