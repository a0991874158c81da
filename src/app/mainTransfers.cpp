// The commands that move files between the user's folders and the service.

#include <QAbstractButton>
#include <cmath>

#include "downloadUnit.h"
#include "localPane.h"
#include "mainUnit.h"
#include "onlinePane.h"
#include "serviceRequests.h"
#include "uploadUnit.h"

namespace tonvert {

void TmainForm::midiUpload() {
    TuploadForm upload(this, state, seams_);
    // Files that could not be timed cannot go: the service charges by play time.
    int totalPlayTime = 0;
    for (const FileRow& file : localMidiPane_->selectedFiles()) {
        if (!file.playTime)
            continue;
        // The sum of the times as the pane shows them, in whole seconds.
        totalPlayTime += static_cast<int>(std::nearbyint(*file.playTime));
        upload.midiFiles.push_back(localMidiPane_->pathOf(file));
    }
    if (upload.midiFiles.empty()) {
        localMidiPane_->uploadButton()->setEnabled(false);
        return;
    }
    upload.totalPlayTime = totalPlayTime;
    upload.formFields = {"UID=" + state.userID, "PWD=" + state.password, "LNG=us", "VER=1.0",
                         std::string("CMD=") + kSubmitMidiCommand};
    upload.net = state.net.get();
    upload.loadSettings(paths_.settingsFile);
    centre(upload);
    upload.exec();
    upload.saveSettings(paths_.settingsFile);
    if (upload.uploaded)
        refreshOnlineMidiList(true);
}

void TmainForm::audioDownload() {
    TdownloadForm download(this, state, seams_);
    for (const FileRow& file : onlineAudioPane_->selectedFiles())
        download.audioFiles.push_back(file.fileName);
    if (download.audioFiles.empty()) {
        onlineAudioPane_->downloadButton()->setEnabled(false);
        return;
    }
    download.targetFolder = state.audioFolder;
    download.baseURL = audioDownloadUrlPrefix(state.service.host, state.userID, state.password);
    download.net = state.net.get();
    centre(download);
    if (download.execute())
        fillLocalAudioList(true);
}

} // namespace tonvert
