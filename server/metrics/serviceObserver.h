#pragma once

namespace tonvert::service {

// What the service's work comes to, for the operator's metrics. Every event does nothing
// unless a subclass counts it. Events come from any thread, and an override is called on the
// thread that does the work: it must be quick and safe side by side.
class ServiceObserver {
public:
    virtual ~ServiceObserver() = default;

    // A render published its audio file, after the renderer took so long.
    virtual void renderDone(double /*seconds*/) {}
    // A job ended without audio this time: its MIDI file not fetched, its render failed or
    // its audio file not stored (it waits again, or is given up).
    virtual void renderFailed() {}
    // A job's lease ran out while it was rendered, and another worker has it now.
    virtual void leaseTakenOver() {}
    // An operation of the store threw, and the caller went on without it.
    virtual void storeError() {}
    virtual void mailSent() {}
    virtual void mailFailed() {}
};

// Counts nothing: for programs and tests without metrics.
inline ServiceObserver& noObserver() {
    static ServiceObserver none;
    return none;
}

} // namespace tonvert::service
