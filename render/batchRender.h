#pragma once

#include <cstddef>
#include <vector>

#include "batchPlan.h"
#include "batchProgress.h"
#include "midiRenderer.h"

namespace tonvert::render {

struct BatchOutcome {
    std::size_t rendered = 0;
    std::size_t failed = 0;
    bool stopped = false; // options.stop turned true: what was unfinished is gone
};

// The cores this process may run on (its affinity), at least 1.
unsigned usableCores();

// Renders every job, `workers` at a time on threads of their own. With more than one at once
// each synthesizer keeps to one core, so the renders do not crowd each other's. Each output
// is written under a hidden name in its folder and renamed into place only when whole; a
// failed or stopped render leaves nothing behind. A failure ends that job only. Several at
// once take the largest files first.
BatchOutcome renderBatch(const std::vector<BatchJob>& jobs, const RenderPreset& preset,
                         RenderOptions options, unsigned workers, BatchProgress& progress);

} // namespace tonvert::render
