#include "storeSupport.h"

#include "names.h"
#include "testFiles.h"

namespace tonvert::test {

std::optional<service::Caller> callerOf(service::Store& store, const std::string& userId) {
    const auto account = store.account(userId);
    if (!account)
        return std::nullopt;
    return service::Caller{account->id, account->passwordHash};
}

bool deleteWaitingMidi(service::Store& store, const std::string& userId, const std::string& name) {
    const auto caller = callerOf(store, userId);
    if (!caller)
        return false;
    for (const service::MidiRecord& record : store.midiRecords(caller->account))
        if (record.name == name)
            return store.deleteWaitingMidi(*caller, record.id) == service::Outcome::done;
    return false;
}

std::optional<service::AudioFile> publishAudioFile(service::Store& store, const std::string& userId,
                                                   const std::string& audioName,
                                                   const std::string& bytes) {
    const auto caller = callerOf(store, userId);
    if (!caller)
        return std::nullopt;
    const std::string midi = "MThd";
    const auto submitted =
        store.submitMidi({*caller, service::rootOf(audioName) + ".mid", "", midi, {}, 1000});
    if (submitted.outcome != service::Outcome::done)
        return std::nullopt;
    const auto job = store.takeNextJob();
    if (!job || job->record != submitted.record)
        return std::nullopt;
    const std::string rendered = store.scratchPath();
    writeBytes(rendered, bytes);
    return store.publishAudio({job->record, service::extensionOf(audioName), rendered});
}

} // namespace tonvert::test
