#include "recordingSeams.h"

#include <QApplication>
#include <filesystem>

#include "aboutUnit.h"

#include "fileNames.h"

namespace tonvert::test {

namespace {

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

} // namespace

AboutBoxCloser::AboutBoxCloser() {
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (auto* about = qobject_cast<TaboutForm*>(QApplication::activeModalWidget())) {
            ++closed;
            about->close();
        }
    });
    timer_.start(10);
}

void RecordingShell::openUrl(const std::string& url, OpenFailed onFailure) {
    openedUrls.push_back(url);
    if (openFailure)
        onFailure(*openFailure);
}

void RecordingShell::playFile(const std::string& path, OpenFailed onFailure) {
    played.push_back(path);
    if (refuse)
        onFailure({true, "No program is set up on this desktop to open it."});
    else if (openFailure)
        onFailure(*openFailure);
}

std::vector<std::string> RecordingShell::trashFiles(const std::vector<std::string>& paths) {
    trashed.insert(trashed.end(), paths.begin(), paths.end());
    if (refuse)
        return paths;
    for (const auto& path : paths)
        std::filesystem::remove(path);
    return {};
}

std::vector<std::string> RecordingShell::copyFiles(const std::vector<std::string>& sources,
                                                   const std::vector<std::string>& destinations) {
    copied.insert(copied.end(), sources.begin(), sources.end());
    if (refuse)
        return sources;
    for (std::size_t i = 0; i < sources.size(); ++i)
        std::filesystem::copy_file(sources[i], freePathFor(destinations[i], exists));
    return {};
}

bool RecordingShell::renameFile(const std::string& from, const std::string& to,
                                std::string& finalPath) {
    renamed.emplace_back(from, to);
    finalPath = from;
    if (refuse)
        return false;
    finalPath = from == to ? to : freePathFor(to, exists);
    std::filesystem::rename(from, finalPath);
    return true;
}

bool RecordingShell::pickFolder(const std::string& title, std::string& folder) {
    folderTitles.push_back(title);
    if (chosenFolder.empty())
        return false;
    folder = chosenFolder;
    return true;
}

PromptAnswer RecordingPrompts::show(PromptKind kind, const std::string& caption,
                                    const std::string& text, PromptButtons buttons) {
    shown.push_back({kind, caption, text, buttons});
    if (!answers.empty()) {
        const PromptAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == PromptButtons::ok ? PromptAnswer::ok : PromptAnswer::no;
}

} // namespace tonvert::test
