#pragma once

namespace tonvert {

// Shows the busy cursor for its lifetime and restores the previous one afterwards, also
// when the work in between leaves early.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace tonvert
