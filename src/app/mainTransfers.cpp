// The commands that move files between the user's folders and the service.

#include <QAbstractButton>
#include <cmath>

#include "downloadUnit.h"
#include "fileNames.h"
#include "localPane.h"
#include "mainUnit.h"
#include "onlinePane.h"
#include "prompts.h"
#include "serviceRequests.h"
#include "uploadUnit.h"

namespace tonvert {

void TmainForm::midiUpload() {
    // Files that could not be timed cannot go: the service charges by play time.
    std::vector<TimedMidiFile> files;
    for (const FileRow& file : localMidiPane_->selectedFiles())
        if (file.playTime)
            files.push_back({localMidiPane_->pathOf(file), *file.playTime});
    if (files.empty()) {
        localMidiPane_->uploadButton()->setEnabled(false);
        return;
    }
    runUpload(files);
}

// Dropped files are timed as the MIDI pane times its own; those that cannot be are named.
void TmainForm::midiUploadFiles(const std::vector<std::string>& paths) {
    if (const char* why = uploadBlockedReason(state)) {
        seams_.prompts.show(PromptKind::error, "", std::string(why) + ".", PromptButtons::ok);
        return;
    }
    std::vector<TimedMidiFile> files;
    std::string refused;
    for (const std::string& path : paths) {
        const std::optional<double> seconds =
            localMidiPane_->listsType(fileNameOf(path)) ? midiFilePlayTime(path) : std::nullopt;
        if (seconds)
            files.push_back({path, *seconds});
        else
            refused += "\n" + fileNameOf(path);
    }
    if (!refused.empty())
        seams_.prompts.show(PromptKind::error, "",
                            "These files are no MIDI files whose play time can be read, and "
                            "cannot be uploaded:\n" +
                                refused,
                            PromptButtons::ok);
    if (!files.empty())
        runUpload(files);
}

void TmainForm::runUpload(const std::vector<TimedMidiFile>& files) {
    UploadJob job{{state.service.host, state.userID, state.password}, {}, 0};
    for (const TimedMidiFile& file : files) {
        // The sum of the times as the pane shows them, in whole seconds.
        job.totalPlayTime += static_cast<int>(std::nearbyint(file.playTime));
        job.midiFiles.push_back(file.path);
    }
    TuploadForm upload(this, state, seams_);
    upload.setJob(std::move(job));
    upload.loadSettings(paths_.settingsFile);
    centre(upload);
    upload.exec();
    upload.saveSettings(paths_.settingsFile);
    if (upload.uploaded)
        refreshOnlineMidiList(true);
}

void TmainForm::audioDownload() {
    std::vector<std::string> names;
    for (const FileRow& file : onlineAudioPane_->selectedFiles())
        names.push_back(file.fileName);
    if (names.empty()) {
        onlineAudioPane_->downloadButton()->setEnabled(false);
        return;
    }
    downloadAudioFiles(names);
}

void TmainForm::downloadAudioFiles(const std::vector<std::string>& names) {
    TdownloadForm download(this, state, seams_);
    download.setJob({{state.service.host, state.userID, state.password}, names, state.audioFolder});
    centre(download);
    if (download.execute())
        fillLocalAudioList(true);
}

} // namespace tonvert
