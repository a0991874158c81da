#include "connectSettings.h"

#include <cstdint>
#include <vector>

#include "netUnit.h"
#include "portableIniFiles.h"

namespace tonvert {

namespace {

const char* const kConnect = "Connect";
const char* const kProxy = "Proxy";
const char* const kBypass = "ProxyBypass";

} // namespace

void readConnectSettings(const TPortableIniFile& ini, std::string& testURL, TNet& net,
                         const std::string& defaultTestURL) {
    testURL = ini.readString(kConnect, "TestURL", defaultTestURL);
    net.proxyServer = ini.readString(kProxy, "Server", "");
    net.proxyPort = static_cast<std::uint16_t>(ini.readInteger(kProxy, "Port", 80));
    net.attempts = static_cast<std::uint16_t>(ini.readInteger(kConnect, "Attempts", 5));
    net.timeout = ini.readInteger(kConnect, "Timeout", 60000);

    // Only the values count: a hand-edited section may use any keys, in any order.
    std::vector<std::string> lines;
    ini.readSectionValues(kBypass, lines);
    for (std::string& line : lines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            line.erase(0, equals + 1);
    }
    net.proxyBypass = joinBypassEntries(lines);
}

std::string joinBypassEntries(const std::vector<std::string>& entries) {
    std::string list;
    for (const std::string& entry : entries) {
        if (entry.empty())
            continue;
        if (!list.empty())
            list += ',';
        list += entry;
    }
    return list;
}

void writeConnectSettings(TPortableIniFile& ini, const TNet& net) {
    ini.writeString(kProxy, "Server", net.proxyServer);
    ini.writeInteger(kProxy, "Port", net.proxyPort);
    ini.writeInteger(kConnect, "Attempts", net.attempts);
    ini.writeInteger(kConnect, "Timeout", net.timeout);

    // Rewritten whole, so that no entry of a longer old list survives.
    ini.eraseSection(kBypass);
    if (net.proxyBypass.empty())
        return;
    int key = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = net.proxyBypass.find(',', start);
        ini.writeString(kBypass, std::to_string(++key),
                        net.proxyBypass.substr(start, comma == std::string::npos ? std::string::npos
                                                                                 : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
}

} // namespace tonvert
