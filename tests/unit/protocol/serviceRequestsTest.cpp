#include "serviceRequests.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

TEST(ServiceRequests, RequestTexts) {
    const std::string script = "http://svc.example.com:8080/cgi-bin/wmn.pl";
    const std::string start = script + "?LNG=us&VER=1.0&UID=ann%2Eb%40mail%2Eorg";
    EXPECT_EQ(serviceScriptUrl("svc.example.com:8080"), script);
    EXPECT_EQ(
        serviceRequestUrl("svc.example.com:8080", "ann.b@mail.org", "p w&1", kListMidiCommand),
        start + "&PWD=p%20w%261&CMD=listmidi");
    EXPECT_EQ(
        serviceRequestUrl("svc.example.com:8080", "ann.b@mail.org", "pw", kDeleteMidiCommand, "42"),
        start + "&PWD=pw&CMD=delmidi&FNM=42");
    EXPECT_EQ(signupRequestUrl("svc.example.com:8080", "ann.b@mail.org"), start + "&CMD=signup");
    EXPECT_EQ(audioDownloadUrlPrefix("svc.example.com:8080", "ann.b@mail.org", "pw"),
              start + "&PWD=pw&CMD=getaudio&FNM=");
    EXPECT_EQ(uploadFormFields("ann.b@mail.org", "p w", "MP3 128", "a b.mid"),
              (std::vector<std::string>{"UID=ann.b@mail.org", "PWD=p w", "LNG=us", "VER=1.0",
                                        "CMD=submitmidi", "PRM=MP3 128", "FNM=a b.mid"}));

    const ServiceAccount account{"svc.example.com:8080", "ann.b@mail.org", "pw"};
    EXPECT_EQ(audioDownloadUrl(account, "a b.mp3"), start + "&PWD=pw&CMD=getaudio&FNM=a%20b%2Emp3");
    const UploadRequest upload = midiUploadRequest(account, "/home/ann/MIDI/a b.mid", "WAV");
    EXPECT_EQ(upload.url, script);
    EXPECT_EQ(upload.filePath, "/home/ann/MIDI/a b.mid");
    EXPECT_EQ(upload.filePartName, "BIN");
    EXPECT_EQ(upload.uploadName, "a b.mid");
    EXPECT_EQ(upload.fields, uploadFormFields("ann.b@mail.org", "pw", "WAV", "a b.mid"));
}

} // namespace
} // namespace tonvert
