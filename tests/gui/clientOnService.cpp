#include "clientOnService.h"

#include <QtTest>
#include <filesystem>

#include "credentials.h"
#include "midiBytes.h"
#include "netUnit.h"
#include "onlineArrivals.h"
#include "portableIniFiles.h"
#include "serviceRequests.h"

namespace tonvert::test {

ClientOnService::ClientOnService(service::Renderer* renderer, const std::string& user,
                                 bool withAccount)
    : user(user) {
    service = std::make_unique<LoopbackService>(folder.file("data"), renderer);
    for (const char* sub : {"MIDI", "Audio", "Temp"})
        std::filesystem::create_directories(folder.file(sub));
    TPortableIniFile ini(folder.file("tonvert.INI"));
    ini.writeString("Service", "Host", service->host());
    if (!withAccount)
        return;
    password = service->makeAccount(user);
    writeCredentials(ini, {user, password});
}

ClientOnService::~ClientOnService() {
    form.reset();
}

void ClientOnService::start() {
    form = std::make_unique<TmainForm>(folder.file("tonvert"), seams.seams());
    form->arrivals().setNotifications(seams.notifications);
    form->show();
    QTRY_VERIFY(form->startupDone());
}

void ClientOnService::restartService(service::Renderer* renderer) {
    service.reset();
    service = std::make_unique<LoopbackService>(folder.file("data"), renderer);
    if (form)
        form->state.service.host = service->host();
}

std::string ClientOnService::upload(const std::string& name) {
    const std::string path = folder.file(name);
    writeBytes(path, test::taggedMidi(name));
    WaitingPump pump;
    TNet net(seams.connection, pump);
    return net
        .upload({serviceScriptUrl(service->host()),
                 path,
                 kUploadFilePart,
                 name,
                 uploadFormFields(user, password, "MP3,128,44100,C,2", name),
                 {}})
        .reply;
}

QStringList rowTexts(const QAbstractItemModel& model) {
    QStringList out;
    for (int i = 0; i < model.rowCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(i, c).data().toString();
        out << cells.join('|');
    }
    return out;
}

} // namespace tonvert::test
