// The commands that move files between the user's folders and the service.

#include <QAbstractButton>
#include <cmath>

#include "downloadUnit.h"
#include "localPane.h"
#include "mainUnit.h"
#include "onlinePane.h"
#include "serviceRequests.h"

namespace tonvert {

void TmainForm::midiUpload() {}

void TmainForm::audioDownload() {
    TdownloadForm download(this, state, seams_);
    for (const FileRow& file : onlineAudioPane_->selectedFiles())
        download.audioFiles.push_back(file.fileName.toStdString());
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
