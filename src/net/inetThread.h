#pragma once

#include <string>

#include "curlSession.h"
#include "netWorker.h"

namespace tonvert {

// One download on a thread of its own: an HTTP GET or an FTP file, into memory (`reply`) or
// into a local file, with the fraction received as progress.
class TINetThread : public NetWorker {
public:
    struct Request {
        std::string url;
        std::string targetFile; // empty: keep the data in the reply
        bool detailed = false;  // name the URL, host or file in the messages
    };

    TINetThread(const SessionSettings& settings, const Request& request);
};

} // namespace tonvert
