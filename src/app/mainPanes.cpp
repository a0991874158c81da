// The main window's names for the work of its panes.

#include "localPane.h"
#include "mainUnit.h"
#include "onlinePane.h"
#include "shellFiles.h"

namespace tonvert {

void TmainForm::fillLocalMidiList(bool keepSelection) {
    localMidiPane_->fill(keepSelection);
}
void TmainForm::fillLocalAudioList(bool keepSelection) {
    localAudioPane_->fill(keepSelection);
}
void TmainForm::updateLocalMidiButtons() {
    localMidiPane_->updateButtons();
}
void TmainForm::updateLocalAudioButtons() {
    localAudioPane_->updateButtons();
}
void TmainForm::playLocalMidiFile() {
    localMidiPane_->playFile();
}
void TmainForm::playLocalAudioFile() {
    localAudioPane_->playFile();
}
void TmainForm::copyLocalMidiFiles() {
    localMidiPane_->copyFiles();
}
void TmainForm::copyLocalAudioFiles() {
    localAudioPane_->copyFiles();
}
void TmainForm::deleteLocalMidiFiles() {
    localMidiPane_->deleteFiles();
}
void TmainForm::deleteLocalAudioFiles() {
    localAudioPane_->deleteFiles();
}

void TmainForm::refreshOnlineMidiList(bool keepSelection) {
    onlineMidiPane_->refresh(keepSelection);
}
void TmainForm::refreshOnlineAudioList(bool keepSelection) {
    onlineAudioPane_->refresh(keepSelection);
}
void TmainForm::showOnlineMidiList(bool keepSelection) {
    onlineMidiPane_->showList(keepSelection);
}
void TmainForm::showOnlineAudioList(bool keepSelection) {
    onlineAudioPane_->showList(keepSelection);
}
void TmainForm::deleteOnlineMidiFiles() {
    onlineMidiPane_->deleteFiles();
}
void TmainForm::deleteOnlineAudioFiles() {
    onlineAudioPane_->deleteFiles();
}
void TmainForm::updateOnlineMidiButtons() {
    onlineMidiPane_->updateButtons();
}
void TmainForm::updateOnlineAudioButtons() {
    onlineAudioPane_->updateButtons();
}

void TmainForm::updateServiceCommands() {
    updateLocalMidiButtons();
    updateOnlineMidiButtons();
    updateOnlineAudioButtons();
}

bool TmainForm::shellDeleteFiles(const std::vector<std::string>& paths) {
    return tonvert::shellDeleteFiles(seams_.prompts, seams_.shell, paths);
}

bool TmainForm::shellCopyFiles(const std::vector<std::string>& sources,
                               const std::vector<std::string>& destinations) {
    return tonvert::shellCopyFiles(seams_.prompts, seams_.shell, sources, destinations);
}

bool TmainForm::shellRenameFile(const std::string& from, const std::string& to,
                                std::string& finalPath) {
    return tonvert::shellRenameFile(seams_.shell, from, to, finalPath);
}

} // namespace tonvert
