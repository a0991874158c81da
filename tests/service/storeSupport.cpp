#include "storeSupport.h"

#include <filesystem>

#include "store/names.h"
#include "testFiles.h"

namespace tonvert::test {

using namespace service;

namespace {

StoreOptions sameClock(const Store& inner) {
    StoreOptions options;
    options.clock = [&inner] { return inner.now(); };
    return options;
}

} // namespace

ForwardingStore::ForwardingStore(std::unique_ptr<Store> inner)
    : Store(inner->folder(), sameClock(*inner))
    , inner_(std::move(inner)) {}

std::optional<Account> ForwardingStore::account(const std::string& userId) {
    return inner_->account(userId);
}
std::optional<Account> ForwardingStore::accountById(std::int64_t id) {
    return inner_->accountById(id);
}
std::optional<std::int64_t> ForwardingStore::addAccount(const NewAccount& account) {
    return inner_->addAccount(account);
}
bool ForwardingStore::confirmAccount(const Caller& caller) {
    return inner_->confirmAccount(caller);
}
bool ForwardingStore::setPassword(std::int64_t account, const std::string& passwordHash) {
    return inner_->setPassword(account, passwordHash);
}
bool ForwardingStore::rehashPassword(const Caller& caller, const std::string& passwordHash) {
    return inner_->rehashPassword(caller, passwordHash);
}
bool ForwardingStore::removeNewAccount(const Caller& caller) {
    return inner_->removeNewAccount(caller);
}
ResetResult ForwardingStore::startReset(const ResetRequest& request) {
    return inner_->startReset(request);
}
bool ForwardingStore::undoReset(const ResetUndo& undo) {
    return inner_->undoReset(undo);
}
bool ForwardingStore::usePendingPassword(std::int64_t account, const std::string& pendingHash) {
    return inner_->usePendingPassword(account, pendingHash);
}
std::int64_t ForwardingStore::noteFailedLogin(std::int64_t account, std::int64_t forgetAfter) {
    return inner_->noteFailedLogin(account, forgetAfter);
}
void ForwardingStore::clearFailedLogins(std::int64_t account) {
    inner_->clearFailedLogins(account);
}
bool ForwardingStore::countSignup(const std::string& address, std::int64_t windowSeconds,
                                  std::int64_t limit) {
    return inner_->countSignup(address, windowSeconds, limit);
}
std::optional<std::int64_t> ForwardingStore::book(const Booking& booking) {
    return inner_->book(booking);
}
std::vector<LedgerEntry> ForwardingStore::ledger(std::int64_t account) {
    return inner_->ledger(account);
}
std::string ForwardingStore::issueFormToken() {
    return inner_->issueFormToken();
}
FundsResult ForwardingStore::addFunds(const FundsRequest& request) {
    return inner_->addFunds(request);
}
std::optional<Receipt> ForwardingStore::receipt(const std::string& id) {
    return inner_->receipt(id);
}
std::vector<MidiRecord> ForwardingStore::midiRecords(std::int64_t account) {
    return inner_->midiRecords(account);
}
SubmitResult ForwardingStore::submitMidi(const SubmitRequest& request) {
    return inner_->submitMidi(request);
}
Outcome ForwardingStore::deleteWaitingMidi(const Caller& caller, std::int64_t record) {
    return inner_->deleteWaitingMidi(caller, record);
}
std::optional<RenderJob> ForwardingStore::takeNextJob() {
    return inner_->takeNextJob();
}
AudioFile ForwardingStore::publishAudio(const Publication& publication) {
    return inner_->publishAudio(publication);
}
bool ForwardingStore::fetchMidi(std::int64_t record, const std::string& localPath) {
    return inner_->fetchMidi(record, localPath);
}
bool ForwardingStore::renewLease(std::int64_t record, std::int64_t lease) {
    return inner_->renewLease(record, lease);
}
RetryResult ForwardingStore::publishFailed(const PublishFailure& failure) {
    return inner_->publishFailed(failure);
}
void ForwardingStore::returnJob(std::int64_t record, std::int64_t lease) {
    inner_->returnJob(record, lease);
}
void ForwardingStore::requeueUnfinished() {
    inner_->requeueUnfinished();
}
service::QueueState ForwardingStore::queueState() {
    return inner_->queueState();
}
std::int64_t ForwardingStore::expireAudio(std::int64_t publishedBefore) {
    return inner_->expireAudio(publishedBefore);
}
bool ForwardingStore::answers() {
    return inner_->answers();
}
bool ForwardingStore::queuesMail() const {
    return inner_->queuesMail();
}
std::vector<QueuedMail> ForwardingStore::takeQueuedMail(std::size_t limit) {
    return inner_->takeQueuedMail(limit);
}
void ForwardingStore::mailSent(std::int64_t id) {
    inner_->mailSent(id);
}
std::vector<AudioFile> ForwardingStore::audioFiles(std::int64_t account) {
    return inner_->audioFiles(account);
}
Outcome ForwardingStore::deleteAudio(const Caller& caller, const std::string& name) {
    return inner_->deleteAudio(caller, name);
}
DownloadResult ForwardingStore::openDownload(const DownloadRequest& request) {
    return inner_->openDownload(request);
}
std::int64_t ForwardingStore::recordDelivery(const Delivery& delivery) {
    return inner_->recordDelivery(delivery);
}

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
    return store.publishAudio(
        {job->record, service::extensionOf(audioName), rendered, job->lease, {}});
}

std::optional<std::string> midiBytes(service::Store& store, std::int64_t record) {
    const std::string local = store.scratchPath();
    const bool fetched = store.fetchMidi(record, local);
    std::optional<std::string> bytes;
    if (fetched)
        bytes = readBytes(local);
    std::error_code ignored;
    std::filesystem::remove(local, ignored);
    return bytes;
}

std::string readBody(service::BodySource& body) {
    std::string bytes;
    char buffer[1000]; // small pieces: a body's chunks are read across their edges
    while (const std::size_t count = body.read(bytes.size(), buffer, sizeof buffer))
        bytes.append(buffer, count);
    return bytes;
}

std::optional<std::string> audioBytes(service::Store& store, const std::string& userId,
                                      const std::string& name) {
    const auto caller = callerOf(store, userId);
    if (!caller)
        return std::nullopt;
    const auto download = store.openDownload({*caller, name, {}});
    if (download.outcome != service::Outcome::done)
        return std::nullopt;
    return readBody(*download.body);
}

} // namespace tonvert::test
