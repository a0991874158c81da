#include "credentials.h"

#include "asciiText.h"
#include "crypt.h"

namespace tonvert {

namespace {

const char* const kSection = "Account";
const char* const kCipherKey = "Quite a secret, buddy!";

BlowfishContext credentialCipher() {
    BlowfishContext context;
    blowfishInit(kCipherKey, context); // cannot fail: the key is 22 bytes
    return context;
}

std::string readOne(const TPortableIniFile& ini, const BlowfishContext& cipher, const char* key) {
    const std::string stored = ini.readString(kSection, key, "");
    if (stored.empty())
        return {};
    const auto bytes = hexToText(stored);
    if (!bytes)
        return {};
    // The fill is zero bytes, so the text ends before the first of them.
    std::string plain = blowfishText(cipher, false, *bytes);
    const auto zero = plain.find('\0');
    if (zero != std::string::npos)
        plain.resize(zero);
    return plain;
}

} // namespace

std::string textToHex(const std::string& text) {
    return ascii::hexText(text);
}

std::optional<std::string> hexToText(const std::string& hex) {
    std::string text;
    text.reserve(hex.size() / 2);
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        const int high = ascii::hexValue(hex[at]), low = ascii::hexValue(hex[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        text += static_cast<char>(high * 16 + low);
    }
    return text;
}

Credentials readCredentials(const TPortableIniFile& ini) {
    const BlowfishContext cipher = credentialCipher();
    return {readOne(ini, cipher, "UserID"), readOne(ini, cipher, "Password")};
}

void writeCredentials(TPortableIniFile& ini, const Credentials& credentials) {
    const BlowfishContext cipher = credentialCipher();
    ini.writeString(kSection, "UserID", textToHex(blowfishText(cipher, true, credentials.userID)));
    ini.writeString(kSection, "Password",
                    textToHex(blowfishText(cipher, true, credentials.password)));
}

} // namespace tonvert
