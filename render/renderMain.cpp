// tonvert-render IN.mid OUT.ext --preset "MP3,320,44100,V,2" [--soundfont FILE]
// tonvert-render --list-presets
//     Renders a MIDI file as the service does.

#include <cstdio>
#include <iostream>
#include <string>

#include "midiRenderer.h"

using namespace tonvert::render;

int main(int argc, char** argv) {
    std::string input, output, presetTextArgument;
    RenderOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--list-presets") {
            for (const RenderPreset& preset : presetTable())
                std::cout << presetText(preset) << "\n";
            return 0;
        }
        if (word == "--preset" && i + 1 < argc)
            presetTextArgument = argv[++i];
        else if (word == "--soundfont" && i + 1 < argc)
            options.soundfont = argv[++i];
        else if (input.empty())
            input = word;
        else if (output.empty())
            output = word;
        else
            input.clear(); // too many names: fall through to the usage
    }
    if (input.empty() || output.empty() || presetTextArgument.empty()) {
        std::cerr << "usage: tonvert-render IN.mid OUT.ext --preset \"MP3,320,44100,V,2\" "
                     "[--soundfont FILE]\n       tonvert-render --list-presets\n";
        return 2;
    }
    const auto preset = parsePreset(presetTextArgument);
    if (!preset) {
        std::cerr << "tonvert-render: \"" << presetTextArgument
                  << "\" is no preset (see --list-presets)\n";
        return 2;
    }
    int shown = -1;
    const RenderReport report = renderMidiFile(input, output, *preset, options, [&](double done) {
        const int percent = static_cast<int>(done * 100);
        if (percent / 10 != shown / 10) {
            shown = percent;
            std::fprintf(stderr, "\rrendering %3d%%", percent);
        }
    });
    if (shown >= 0)
        std::fprintf(stderr, "\n");
    if (!report.succeeded) {
        std::cerr << "tonvert-render: " << input << ": " << report.error << "\n";
        return 1;
    }
    std::printf("%s: %.2f s of MIDI, %.2f s of audio, loudness %.1f LUFS, gain %+.1f dB, %s\n",
                output.c_str(), report.playTime, report.duration, report.loudness, report.gainDb,
                report.encoder.c_str());
    return 0;
}
