#include "accountTexts.h"
#include "replyReaders.h"

#include <gtest/gtest.h>

namespace tonvert {
namespace {

TEST(AccountTexts, EmailCheck) {
    for (const char* good : {"x@y.zz", "x@.zz", "a b@c d.ef", "x@y..zz"})
        EXPECT_TRUE(passesEmailCheck(good)) << good;
    for (const char* bad : {"x@y.z", "@y.zz", "x@y@y.zz", "x@yyy", "", "xy.zz"})
        EXPECT_FALSE(passesEmailCheck(bad)) << bad;
}

TEST(AccountTexts, Messages) {
    EXPECT_EQ(signedUpText("a@b.cd", "Setup > Confirm account"),
              "Your account has been created. The account password has been mailed to\n\na@b.cd"
              "\n\nWhen you receive it, use the \"Setup > Confirm account\" menu entry to "
              "activate your account.");
    EXPECT_EQ(newPasswordMailedText("a@b.cd", "Setup > Enter new password"),
              "Your new password has been mailed to\n\na@b.cd\n\nWhen you receive it, use the "
              "\"Setup > Enter new password\" menu entry to enter it.");
    EXPECT_EQ(confirmButtonCaption("a@b.cd"), "Confirm account tied to e-mail address \"a@b.cd\"");
}

} // namespace
} // namespace tonvert
