#pragma once

#include <memory>
#include <optional>
#include <string>

#include "store/store.h"

namespace tonvert::test {

// A store that hands every operation to another one, on the same data folder and clock: a
// test overrides the operations it makes fail.
class ForwardingStore : public service::Store {
public:
    explicit ForwardingStore(std::unique_ptr<service::Store> inner);

    std::optional<service::Account> account(const std::string& userId) override;
    std::optional<service::Account> accountById(std::int64_t id) override;
    std::optional<std::int64_t> addAccount(const service::NewAccount& account) override;
    bool confirmAccount(const service::Caller& caller) override;
    bool setPassword(std::int64_t account, const std::string& passwordHash) override;
    bool rehashPassword(const service::Caller& caller, const std::string& passwordHash) override;
    bool removeNewAccount(const service::Caller& caller) override;
    service::ResetResult startReset(const service::ResetRequest& request) override;
    bool undoReset(const service::ResetUndo& undo) override;
    bool usePendingPassword(std::int64_t account, const std::string& pendingHash) override;
    std::int64_t noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) override;
    void clearFailedLogins(std::int64_t account) override;
    bool countSignup(const std::string& address, std::int64_t windowSeconds,
                     std::int64_t limit) override;
    std::optional<std::int64_t> book(const service::Booking& booking) override;
    std::vector<service::LedgerEntry> ledger(std::int64_t account) override;
    std::string issueFormToken() override;
    service::FundsResult addFunds(const service::FundsRequest& request) override;
    std::optional<service::Receipt> receipt(const std::string& id) override;
    std::vector<service::MidiRecord> midiRecords(std::int64_t account) override;
    service::SubmitResult submitMidi(const service::SubmitRequest& request) override;
    service::Outcome deleteWaitingMidi(const service::Caller& caller, std::int64_t record) override;
    std::optional<service::RenderJob> takeNextJob() override;
    bool fetchMidi(std::int64_t record, const std::string& localPath) override;
    bool renewLease(std::int64_t record, std::int64_t lease) override;
    service::AudioFile publishAudio(const service::Publication& publication) override;
    service::RetryResult publishFailed(const service::PublishFailure& failure) override;
    void returnJob(std::int64_t record, std::int64_t lease) override;
    void requeueUnfinished() override;
    service::QueueState queueState() override;
    bool queuesMail() const override;
    bool answers() override;
    std::int64_t expireAudio(std::int64_t publishedBefore) override;
    std::vector<service::QueuedMail> takeQueuedMail(std::size_t limit) override;
    void mailSent(std::int64_t id) override;
    std::vector<service::AudioFile> audioFiles(std::int64_t account) override;
    service::Outcome deleteAudio(const service::Caller& caller, const std::string& name) override;
    service::DownloadResult openDownload(const service::DownloadRequest& request) override;
    std::int64_t recordDelivery(const service::Delivery& delivery) override;

protected:
    service::Store& inner() { return *inner_; }
    const service::Store& inner() const { return *inner_; }

private:
    std::unique_ptr<service::Store> inner_;
};

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

// The bytes of a MIDI record as the store keeps them, fetched as a worker fetches them;
// nullopt for no such record.
std::optional<std::string> midiBytes(service::Store& store, std::int64_t record);

// Every byte a body source gives, read piece by piece from the start.
std::string readBody(service::BodySource& body);

// The bytes of the user's audio file of that name, read as a download reads them (opening a
// download books nothing); nullopt when it cannot be opened.
std::optional<std::string> audioBytes(service::Store& store, const std::string& userId,
                                      const std::string& name);

} // namespace tonvert::test
