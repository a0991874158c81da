// tonvert-render [options] FILE|FOLDER... --preset "MP3,320,44100,V,2"
// tonvert-render IN.mid OUT.ext --preset "MP3,320,44100,V,2" [--soundfont FILE]
//     Renders MIDI files as the service does, several at once (--help tells the rest).

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

#include "batchOptions.h"
#include "batchPlan.h"
#include "batchRender.h"

using namespace tonvert::render;

namespace {

std::atomic<bool> interrupted{false};

// The first Ctrl-C stops the renders and removes what they had begun; a second one kills.
void stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = [](int) { interrupted.store(true); };
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::size_t terminalWidth() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

int render(const BatchArguments& arguments) {
    const BatchPlan plan = planBatch(arguments);
    for (const std::string& problem : plan.problems)
        std::cerr << "tonvert-render: " << problem << "\n";
    if (!arguments.outFolder.empty() && !plan.jobs.empty()) {
        std::error_code error;
        std::filesystem::create_directories(arguments.outFolder, error);
        if (error) {
            std::cerr << "tonvert-render: cannot make " << arguments.outFolder << ": "
                      << error.message() << "\n";
            return 1;
        }
    }
    RenderOptions options;
    if (!arguments.soundfont.empty())
        options.soundfont = arguments.soundfont;
    options.stop = &interrupted;
    stopOnSignals();
    const unsigned workers = static_cast<unsigned>(std::max<std::size_t>(
        1,
        std::min<std::size_t>(arguments.jobs ? arguments.jobs : usableCores(), plan.jobs.size())));
    BatchProgress progress(stdout, stderr, ::isatty(STDERR_FILENO) != 0, plan.jobs.size(), workers,
                           terminalWidth());
    const BatchOutcome outcome =
        renderBatch(plan.jobs, arguments.preset, options, workers, progress);
    progress.end();
    if (outcome.stopped) {
        std::cerr << "tonvert-render: interrupted; unfinished outputs removed\n";
        return 130;
    }
    return outcome.failed > 0 || !plan.problems.empty() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const BatchArguments arguments = parseBatchArguments({argv + 1, argv + argc});
    if (!arguments.error.empty()) {
        std::cerr << "tonvert-render: " << arguments.error << "\n" << batchUsage();
        return 2;
    }
    if (arguments.action == BatchArguments::Action::help) {
        std::cout << batchUsage();
        return 0;
    }
    if (arguments.action == BatchArguments::Action::listPresets) {
        for (const RenderPreset& preset : presetTable())
            std::cout << presetText(preset) << "\n";
        return 0;
    }
    return render(arguments);
}
