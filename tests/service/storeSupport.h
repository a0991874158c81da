#pragma once

#include <optional>
#include <string>

#include "store.h"

namespace tonvert::test {

// Changes a test makes to a service's store without a client, through the store's own
// operations, as the service would make them.

// The user's account as a caller of changes, as the service makes it once the password is
// checked; nullopt for no such user.
std::optional<service::Caller> callerOf(service::Store& store, const std::string& userId);

// Deletes the user's waiting MIDI record of that name; false when there is none.
bool deleteWaitingMidi(service::Store& store, const std::string& userId, const std::string& name);

// Puts an audio file of these bytes into the user's list as a render does: a MIDI record of
// the audio file's root is submitted free of charge, taken from the queue and published.
// Only for a store whose queue has no workers and no other waiting record, since the oldest
// waiting record is the one taken; nullopt when a step failed.
std::optional<service::AudioFile> publishAudioFile(service::Store& store, const std::string& userId,
                                                   const std::string& audioName,
                                                   const std::string& bytes);

} // namespace tonvert::test
