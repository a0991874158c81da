#pragma once

#include <string>
#include <vector>

#include "renderPreset.h"

namespace tonvert::render {

// What the command line of tonvert-render asks for.
struct BatchArguments {
    enum class Action { render, help, listPresets };
    Action action = Action::render;
    RenderPreset preset;
    std::string soundfont;           // empty: the renderer's own
    unsigned jobs = 0;               // renders at once; 0: one a core the process may use
    std::string outFolder;           // empty: each output beside its input
    std::vector<std::string> inputs; // MIDI files and folders, as given
    // The single-file form "IN.mid OUT.ext": the output's own name; empty otherwise.
    std::string outputFile;
    // Why the words make no command (the usage follows, exit status 2); empty when they do.
    std::string error;
};

// `words` are the arguments after the program's name. Options may stand anywhere; "--" ends
// them. Two positional words whose second names an audio file (.mp3, .ogg, .wma, .wav) and no
// folder are the single-file form; anywhere else such a name is an error, so a stray option
// value is never taken for an input or an output.
BatchArguments parseBatchArguments(const std::vector<std::string>& words);

std::string batchUsage();

} // namespace tonvert::render
