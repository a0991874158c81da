#pragma once

#include <string>
#include <vector>

namespace tonvert {

class TNet;
class TPortableIniFile;

// The connection settings in the settings file: "Proxy" (Server, Port), "Connect" (TestURL,
// Attempts, Timeout in milliseconds) and "ProxyBypass" (one entry per key). Keys that are
// absent give the defaults: no proxy, port 80, 5 attempts, 60000 ms, no bypass entries.
void readConnectSettings(const TPortableIniFile& ini, std::string& testURL, TNet& net,
                         const std::string& defaultTestURL);

// A bypass list of the entries that are not empty, joined by commas.
std::string joinBypassEntries(const std::vector<std::string>& entries);

// Writes everything but the test address, which only the user sets, by editing the file.
// The bypass entries go under the keys "1", "2", ...; an empty list leaves no section.
void writeConnectSettings(TPortableIniFile& ini, const TNet& net);

} // namespace tonvert
