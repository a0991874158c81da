// tonvert-render-worker --store postgresql://... [--workers N] [--data DIR] [options]
//     Renders the jobs of a service's shared store, and nothing else: as many of these on as
//     many machines as the queue needs, beside services that answer the requests.

#include <iostream>

#include "queue/fluidRenderer.h"
#include "queue/renderWorker.h"

using namespace tonvert::service;

int main(int argc, char** argv) {
    WorkerOptions options;
    if (const int status = readWorkerOptions(argc, argv, options); status >= 0)
        return status;
    tonvert::render::RenderOptions render;
    if (!options.soundfont.empty())
        render.soundfont = options.soundfont;
    FluidRenderer renderer(render);
    return runRenderWorker(options, renderer);
}
