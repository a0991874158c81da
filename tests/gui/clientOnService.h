#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <memory>
#include <string>

#include "loopbackService.h"
#include "mainUnit.h"
#include "recordingSeams.h"
#include "testFiles.h"

namespace tonvert::test {

// A user's portable folder (MIDI/, Audio/, Temp/ beside the program) and the main window
// over a reference service of its own on loopback, where the user has a confirmed account
// whose credentials the settings file holds.
struct ClientOnService {
    // Without `withAccount` the user is new: no account, no settings file.
    explicit ClientOnService(service::Renderer* renderer,
                             const std::string& user = "ann@example.org", bool withAccount = true);
    ~ClientOnService();

    // Shows the main window and waits for its first activation.
    void start();
    // The same service again on the same data (the port changes), with another renderer.
    void restartService(service::Renderer* renderer);
    // Sends a small MIDI file of that name as the client's upload does; gives the reply.
    std::string upload(const std::string& name);

    TempFolder folder;
    std::unique_ptr<LoopbackService> service;
    TestSeams seams;
    AboutBoxCloser closer;
    std::unique_ptr<TmainForm> form;
    std::string user;
    std::string password;
};

// Every row as "text|text|...", the texts of all columns.
QStringList rowTexts(const QAbstractItemModel& model);

} // namespace tonvert::test
