#include "queue/fluidRenderer.h"
#include "log/log.h"

#include <iostream>

namespace tonvert::service {

namespace {

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty())
        return;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// The reason as the owner reads it in a mail: the service's own paths become what they stand
// for (the operator's log keeps the full text).
std::string ownersReason(std::string error, const RenderJob& job, const std::string& outputPath,
                         const std::string& soundfont) {
    replaceAll(error, job.midiPath, job.name);
    replaceAll(error, outputPath, "the audio file");
    replaceAll(error, soundfont, "of the service");
    return error;
}

} // namespace

RenderResult FluidRenderer::render(const RenderJob& job, const std::string& outputPath) {
    const auto preset = render::parsePreset(job.parameters);
    if (!preset)
        return {false, "", "\"" + job.parameters + "\" is no format and quality the service knows",
                false, true};
    // Each job renders on one core: the queue's workers share the machine.
    render::RenderOptions options = options_;
    options.cpuCores = 1;
    options.stop = &stopRequested();
    const auto report = render::renderMidiFile(job.midiPath, outputPath, *preset, options);
    if (!report.succeeded) {
        if (!report.stopped)
            logWarning() << "rendering " << job.midiPath << " failed: " << report.error;
        return {false, "", ownersReason(report.error, job, outputPath, options.soundfont),
                report.stopped, report.fileRefused};
    }
    return {true, render::fileExtension(preset->format), ""};
}

} // namespace tonvert::service
