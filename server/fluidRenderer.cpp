#include "fluidRenderer.h"

namespace tonvert::service {

RenderResult FluidRenderer::render(const RenderJob& job, const std::string& outputPath) {
    const auto preset = render::parsePreset(job.parameters);
    if (!preset)
        return {false, "", "\"" + job.parameters + "\" is no format and quality the service knows"};
    // Each job renders on one core: the queue's workers share the machine.
    render::RenderOptions options = options_;
    options.cpuCores = 1;
    options.stop = &stopRequested();
    const auto report = render::renderMidiFile(job.midiPath, outputPath, *preset, options);
    if (!report.succeeded)
        return {false, "", report.error, report.stopped};
    return {true, render::fileExtension(preset->format), ""};
}

} // namespace tonvert::service
