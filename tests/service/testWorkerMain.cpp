// tonvert-render-worker as the cluster test runs it: the same program around a renderer that
// copies the MIDI file's bytes as the audio file's, slowly for a file that asks for it, and
// notes in its working folder which job it is rendering (for the test to kill it then) and
// every job it began.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "queue/renderWorker.h"
#include "testFiles.h"

using namespace tonvert::service;

namespace {

class CopyingRenderer final : public Renderer {
public:
    explicit CopyingRenderer(const std::string& folder)
        : marker_(folder + "/rendering")
        , begun_(folder + "/begun") {}

    RenderResult render(const RenderJob& job, const std::string& output) override {
        tonvert::test::writeBytes(marker_, job.name);
        std::ofstream(begun_, std::ios::app) << job.name << "\n";
        const std::string midi = tonvert::test::readBytes(job.midiPath);
        // A slow job renders for four seconds: longer than the test's lease, renewed meanwhile.
        const bool slow = midi.find("slow") != std::string::npos;
        for (int step = 0; slow && step < 80; ++step) {
            if (stopRequested())
                return {false, "", "", true};
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        tonvert::test::writeBytes(output, midi);
        std::error_code ignored;
        std::filesystem::remove(marker_, ignored);
        return {true, "mp3", ""};
    }

private:
    std::string marker_;
    std::string begun_;
};

} // namespace

int main(int argc, char** argv) {
    WorkerOptions options;
    if (const int status = readWorkerOptions(argc, argv, options); status >= 0)
        return status;
    CopyingRenderer renderer(options.data);
    return runRenderWorker(options, renderer);
}
