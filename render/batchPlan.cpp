#include "batchPlan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

namespace tonvert::render {

namespace fs = std::filesystem;

namespace {

bool isMidiName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mid" || extension == ".rmi";
}

// The folder's MIDI files in name order; empty with `problem` set when there are none.
std::vector<fs::path> folderFiles(const fs::path& folder, std::string& problem) {
    std::vector<fs::path> files;
    std::error_code error, unreadable;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (isMidiName(it->path()) && it->is_regular_file(unreadable))
            files.push_back(it->path());
    if (error)
        problem = folder.string() + ": " + error.message();
    else if (files.empty())
        problem = folder.string() + ": holds no .mid or .rmi file";
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> expandInput(const std::string& input, std::vector<std::string>& problems) {
    std::error_code error;
    const fs::file_status status = fs::status(input, error);
    if (fs::is_directory(status)) {
        std::string problem;
        auto files = folderFiles(input, problem);
        if (!problem.empty())
            problems.push_back(problem);
        return files;
    }
    if (!fs::exists(status)) {
        problems.push_back(input + ": no such file or folder");
        return {};
    }
    return {fs::path(input)};
}

// Paths that name one file compare equal: "a/../b.mid" is "b.mid".
std::string sameFileKey(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal().string();
}

fs::path outputFor(const fs::path& input, const BatchArguments& arguments) {
    if (!arguments.outputFile.empty())
        return arguments.outputFile;
    fs::path name = input.filename();
    name.replace_extension(fileExtension(arguments.preset.format));
    return (arguments.outFolder.empty() ? input.parent_path() : fs::path(arguments.outFolder)) /
           name;
}

} // namespace

BatchPlan planBatch(const BatchArguments& arguments) {
    BatchPlan plan;
    std::set<std::string> inputsSeen;
    std::map<std::string, std::string> writers; // output to the input that writes it
    for (const std::string& given : arguments.inputs) {
        for (const fs::path& input : expandInput(given, plan.problems)) {
            if (!inputsSeen.insert(sameFileKey(input)).second)
                continue;
            const fs::path output = outputFor(input, arguments);
            const auto [writer, isNew] = writers.emplace(sameFileKey(output), input.string());
            if (!isNew)
                plan.problems.push_back(input.string() + ": its output " + output.string() +
                                        " is already that of " + writer->second);
            else
                plan.jobs.push_back({input.string(), output.string()});
        }
    }
    return plan;
}

} // namespace tonvert::render
