#include "batchOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

namespace tonvert::render {

namespace {

constexpr unsigned kMaxJobs = 1024;

bool namesAudioFile(const std::string& word) {
    std::string extension = std::filesystem::path(word).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (AudioFormat format :
         {AudioFormat::mp3, AudioFormat::ogg, AudioFormat::wma, AudioFormat::wav})
        if (extension == std::string(".") + fileExtension(format))
            return !std::filesystem::is_directory(word);
    return false;
}

bool readJobs(const std::string& text, unsigned& jobs) {
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, jobs);
    return failure == std::errc{} && stop == end && jobs >= 1 && jobs <= kMaxJobs;
}

// The options that take a value, and where each goes; the preset's text waits in `presetText`.
std::string* valueSlot(const std::string& option, BatchArguments& arguments,
                       std::string& presetText, std::string& jobsText) {
    if (option == "--preset")
        return &presetText;
    if (option == "--soundfont")
        return &arguments.soundfont;
    if (option == "--out")
        return &arguments.outFolder;
    if (option == "--jobs")
        return &jobsText;
    return nullptr;
}

// Options into `arguments`, the rest into `positional`; false with the error set.
bool readWords(const std::vector<std::string>& words, BatchArguments& arguments,
               std::vector<std::string>& positional, std::string& presetText,
               std::string& jobsText) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            positional.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            arguments.action = BatchArguments::Action::help;
            return true;
        } else if (word == "--list-presets") {
            arguments.action = BatchArguments::Action::listPresets;
            return true;
        } else if (std::string* slot = valueSlot(word, arguments, presetText, jobsText)) {
            // A value that looks like an option is taken for a forgotten value.
            if (i + 1 == words.size() || words[i + 1].rfind("--", 0) == 0)
                arguments.error = word + " needs a value";
            else if (!slot->empty())
                arguments.error = word + " is given twice";
            else
                *slot = words[++i];
            if (!arguments.error.empty())
                return false;
        } else {
            arguments.error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

// The positional words as inputs, or as the single-file form's input and output.
void placePositional(std::vector<std::string> positional, BatchArguments& arguments) {
    if (positional.empty()) {
        arguments.error = "no MIDI file or folder to render";
        return;
    }
    if (positional.size() == 2 && namesAudioFile(positional[1])) {
        if (!arguments.outFolder.empty())
            arguments.error = "an output file name (" + positional[1] +
                              ") and --out exclude "
                              "each other";
        else if (std::filesystem::is_directory(positional[0]))
            arguments.error = "a folder's outputs take their inputs' names: drop " + positional[1];
        arguments.outputFile = positional[1];
        positional.pop_back();
    }
    for (const std::string& word : positional)
        if (arguments.error.empty() && namesAudioFile(word))
            arguments.error = word + " names an audio file: an output name goes only after "
                                     "a single MIDI file";
    arguments.inputs = std::move(positional);
}

} // namespace

BatchArguments parseBatchArguments(const std::vector<std::string>& words) {
    BatchArguments arguments;
    std::vector<std::string> positional;
    std::string presetText, jobsText;
    if (!readWords(words, arguments, positional, presetText, jobsText) ||
        arguments.action != BatchArguments::Action::render)
        return arguments;
    if (!jobsText.empty() && !readJobs(jobsText, arguments.jobs)) {
        arguments.error = "--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs);
        return arguments;
    }
    placePositional(std::move(positional), arguments);
    if (!arguments.error.empty())
        return arguments;
    if (presetText.empty()) {
        arguments.error = "--preset is missing";
    } else if (const auto preset = parsePreset(presetText)) {
        arguments.preset = *preset;
    } else {
        arguments.error = "\"" + presetText + "\" is no preset (see --list-presets)";
    }
    return arguments;
}

std::string batchUsage() {
    return "usage: tonvert-render [options] FILE|FOLDER... --preset PRESET\n"
           "       tonvert-render IN.mid OUT.ext --preset PRESET [--soundfont FILE]\n"
           "       tonvert-render --list-presets | --help\n"
           "Renders MIDI files (a folder: its .mid and .rmi files) as the service does, each\n"
           "output named after its input with the preset's extension.\n"
           "  --preset PRESET   the format and quality, e.g. \"MP3,320,44100,V,2\" (required)\n"
           "  --soundfont FILE  a .sf2 or .sf3 soundfont instead of the General MIDI default\n"
           "  --jobs N          renders at once (default: one a core this process may use)\n"
           "  --out DIR         the outputs' folder, made if missing (default: beside each "
           "input)\n"
           "  --list-presets    the presets of the client's table\n"
           "Exit status: 0 all rendered, 1 a file failed (the others are rendered), 2 unusable\n"
           "arguments, 130 interrupted.\n";
}

} // namespace tonvert::render
