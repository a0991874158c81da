#include "credentials.h"

#include <gtest/gtest.h>

#include "crypt.h"

#include "testFiles.h"

namespace tonvert {
namespace {

using test::readBytes;
using test::TempFolder;
using test::writeBytes;

TEST(Hex, BothWays) {
    EXPECT_EQ(textToHex(std::string("\x00\x1f\xab\xff", 4)), "001FABFF");
    EXPECT_EQ(hexToText("001fAbFF"), std::string("\x00\x1f\xab\xff", 4));
    EXPECT_EQ(hexToText("414"), "A") << "a last digit without a partner is ignored";
    EXPECT_EQ(hexToText(""), "");
    EXPECT_EQ(hexToText("4G"), std::nullopt);
    EXPECT_EQ(hexToText("+1"), std::nullopt);
}

class CredentialsTest : public ::testing::Test {
protected:
    Credentials roundTrip(const Credentials& credentials) {
        {
            TPortableIniFile ini(path);
            writeCredentials(ini, credentials);
        }
        return readCredentials(TPortableIniFile(path));
    }
    std::string stored(const char* key) {
        return TPortableIniFile(path).readString("Account", key, "");
    }
    TempFolder folder;
    std::string path = folder.file("tonvert.INI");
};

TEST_F(CredentialsTest, StoredSizesAndRoundTrip) {
    Credentials read = roundTrip({"12345678", "p"});
    EXPECT_EQ(read.userID, "12345678");
    EXPECT_EQ(read.password, "p");
    EXPECT_EQ(stored("UserID").size(), 32u) << "8 characters: the whole second block is fill";
    EXPECT_EQ(stored("Password").size(), 16u);
    EXPECT_EQ(stored("UserID").find_first_not_of("0123456789ABCDEF"), std::string::npos);

    read = roundTrip({"someone@example.org", "123456789"});
    EXPECT_EQ(read.userID, "someone@example.org");
    EXPECT_EQ(read.password, "123456789");
    EXPECT_EQ(stored("Password").size(), 32u);
}

TEST_F(CredentialsTest, EmptyPasswordRemovesItsKeyOnly) {
    roundTrip({"user@example.org", "secret"});
    const Credentials read = roundTrip({"user@example.org", ""});
    EXPECT_EQ(read.password, "");
    EXPECT_EQ(read.userID, "user@example.org");
    EXPECT_EQ(readBytes(path).find("Password"), std::string::npos);

    roundTrip({"", ""});
    EXPECT_EQ(readBytes(path), "[Account]\r\n\r\n") << "the section stays, empty";
}

TEST_F(CredentialsTest, StoredFormsThatReadBack) {
    roundTrip({"user@example.org", "secret"});
    std::string user = stored("UserID");

    // Lower-case digits read as well as upper-case ones.
    std::string lower = user;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // An odd digit at the end is dropped before deciphering.
    writeBytes(path,
               "[Account]\r\nUserID=" + lower + "\r\nPassword=" + stored("Password") + "7\r\n");
    Credentials read = readCredentials(TPortableIniFile(path));
    EXPECT_EQ(read.userID, "user@example.org");
    EXPECT_EQ(read.password, "secret");

    // Deciphered bytes without a zero byte stay whole, with the extra block from the fill.
    BlowfishContext context;
    blowfishInit("Quite a secret, buddy!", context);
    const std::string full = blowfishText(context, true, "ABCDEFGH").substr(0, 8);
    writeBytes(path, "[Account]\r\nUserID=" + textToHex(full) + "\r\n");
    read = readCredentials(TPortableIniFile(path));
    std::string extra = blowfishText(context, false, std::string(8, '\0')).substr(0, 8);
    extra = extra.substr(0, extra.find('\0'));
    EXPECT_EQ(read.userID, "ABCDEFGH" + extra);
}

TEST_F(CredentialsTest, ValueThatIsNotHexReadsAsAbsentAndTheRestLoads) {
    roundTrip({"user@example.org", "secret"});
    const std::string password = stored("Password");
    writeBytes(path, "[Account]\r\nUserID=NOT-HEX!\r\nPassword=" + password + "\r\n");
    const Credentials read = readCredentials(TPortableIniFile(path));
    EXPECT_EQ(read.userID, "");
    EXPECT_EQ(read.password, "secret");
}

} // namespace
} // namespace tonvert
