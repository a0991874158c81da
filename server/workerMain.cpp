// tonvert-render-worker --store postgresql://... [--workers N] [--data DIR] [options]
//     Renders the jobs of a service's shared store, and nothing else: as many of these on as
//     many machines as the queue needs, beside services that answer the requests.

#include <iostream>
#include <memory>

#include "log/log.h"
#include "metrics/serviceMetrics.h"
#include "process/stop.h"
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
    if (options.metricsListen.empty())
        return runRenderWorker(options, renderer);
    // The endpoint's threads must leave the stop signals to the thread that takes them.
    blockStopSignals();
    ServiceMetrics metrics;
    std::unique_ptr<MetricsEndpoint> endpoint;
    try {
        endpoint = std::make_unique<MetricsEndpoint>(metrics, options.metricsListen);
    } catch (const std::exception& failure) {
        logError() << failure.what();
        return 1;
    }
    return runRenderWorker(options, renderer, metrics);
}
