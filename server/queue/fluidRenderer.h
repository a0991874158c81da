#pragma once

#include "midiRenderer.h"
#include "queue/renderQueue.h"

namespace tonvert::service {

// The queue's renderer: synthesis with FluidSynth and the preset's encoder.
class FluidRenderer : public Renderer {
public:
    explicit FluidRenderer(render::RenderOptions options)
        : options_(std::move(options)) {}
    RenderResult render(const RenderJob& job, const std::string& outputPath) override;

private:
    render::RenderOptions options_;
};

} // namespace tonvert::service
