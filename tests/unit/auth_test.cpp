#include "auth.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "auth_diagnostics.h"

namespace {

TEST(AuthCodes, NormalizeKeepsOnlyZeroToThirtyOne) {
    const struct {
        int code;
        int normalized;
    } cases[] = {
        {0, 0}, {7, 7}, {12, 12}, {31, 31}, {32, 4}, {40, 4}, {1000, 4}, {-1, 4}, {-31, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize_pam_code(c.code), c.normalized) << c.code;
    }
}

TEST(AuthCodes, EveryCodeHasItsName) {
    const std::vector<std::string> names = {
        "Success",
        "Open_Err",
        "Symbol_Err",
        "Service_Err",
        "System_Err",
        "Buf_Err",
        "Perm_Denied",
        "Auth_Err",
        "Cred_Insufficient",
        "Authinfo_Unavail",
        "User_Unknown",
        "MaxTries",
        "New_Authtok_Reqd",
        "Acct_Expired",
        "Session_Err",
        "Cred_Unavail",
        "Cred_Expired",
        "Cred_Err",
        "No_Module_Data",
        "Conv_Err",
        "AuthTok_Err",
        "AuthTok_Recovery_Err",
        "AuthTok_Lock_Busy",
        "AuthTok_Disable_Aging",
        "Try_Again",
        "Ignore",
        "Abort",
        "AuthTok_Expired",
        "Module_Unknown",
        "Bad_Item",
        "Conv_Again",
        "Incomplete",
    };
    ASSERT_EQ(names.size(), 32u);
    for (int code = 0; code < 32; ++code) {
        EXPECT_EQ(pam_code_name(code), names[static_cast<size_t>(code)]);
        EXPECT_EQ(pam_code_text(code),
                  names[static_cast<size_t>(code)] + " (" + std::to_string(code) + ")");
    }
}

TEST(AuthCodes, MatchLinuxPamConstants) {
    EXPECT_EQ(pam_code_text(PAM_AUTH_ERR), "Auth_Err (7)");
    EXPECT_EQ(pam_code_text(PAM_NEW_AUTHTOK_REQD), "New_Authtok_Reqd (12)");
    EXPECT_EQ(pam_code_text(PAM_ACCT_EXPIRED), "Acct_Expired (13)");
    EXPECT_EQ(pam_code_text(PAM_USER_UNKNOWN), "User_Unknown (10)");
    EXPECT_EQ(pam_code_text(PAM_CONV_ERR), "Conv_Err (19)");
    EXPECT_EQ(pam_code_text(PAM_INCOMPLETE), "Incomplete (31)");
}

TEST(AuthCodes, OutOfRangeRendersAsSystemErr) {
    for (int code : {32, 40, -1, 255}) {
        EXPECT_EQ(pam_code_text(code), "System_Err (4)") << code;
        EXPECT_STREQ(pam_code_name(code), "System_Err") << code;
    }
}

TEST(AuthHashPreview, CutsAtTenBytes) {
    const struct {
        std::string hash;
        std::string preview;
    } cases[] = {
        {"", ""},
        {"!", "!"},
        {"!*", "!*"},
        {"0123456789", "0123456789"},
        {"0123456789a", "0123456789...(len=11)"},
        {"$y$j9T$abcdefghijklmnop", "$y$j9T$abc...(len=23)"},
        // "é" is two bytes at 9..10: the cut moves back before it.
        {"012345678\xC3\xA9xyz", "012345678...(len=14)"},
        // "€" is three bytes at 8..10.
        {"01234567\xE2\x82\xAC", "01234567...(len=11)"},
        // A character that ends exactly at byte 10 stays whole.
        {"01234567\xC3\xA9z", "01234567\xC3\xA9...(len=11)"},
        // Ten bytes whole even when multi-byte.
        {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC!", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC!"},
        // U+FFFD from a lossy conversion counts as its three bytes.
        {"abcdefgh\xEF\xBF\xBD", "abcdefgh...(len=11)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hash_preview(c.hash), c.preview) << c.hash;
    }
}

TEST(AuthNameList, EscapesLikeADebugList) {
    const struct {
        std::vector<std::string> names;
        std::string text;
    } cases[] = {
        {{}, "[]"},
        {{"pam_unix.so"}, "[\"pam_unix.so\"]"},
        {{"b.so", "a.so", "pam_deny.so"}, "[\"b.so\", \"a.so\", \"pam_deny.so\"]"},
        {{"quo\"te", "back\\slash"}, "[\"quo\\\"te\", \"back\\\\slash\"]"},
        {{"new\nline", "tab\there", "cr\rx"}, "[\"new\\nline\", \"tab\\there\", \"cr\\rx\"]"},
        {{"esc\x1b", "bell\x07", "del\x7f"}, "[\"esc\\u{1b}\", \"bell\\u{7}\", \"del\\u{7f}\"]"},
        {{"c1\xC2\x85"}, "[\"c1\\u{85}\"]"},
        {{"caf\xC3\xA9", "\xEF\xBF\xBD", "it's"}, "[\"caf\xC3\xA9\", \"\xEF\xBF\xBD\", \"it's\"]"},
        {{""}, "[\"\"]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_name_list(c.names), c.text);
    }
}

TEST(AuthShadow, FindsTheFirstLineOfTheUser) {
    const std::string shadow =
        "root:*:19000:0:99999:7:::\n"
        "alice2:$y$j9T$other:19000::::::\n"
        "alice:$y$j9T$first:19000::::::\r\n"
        "alice:$y$j9T$second:19000::::::\n"
        "bob:!:19000::::::";
    EXPECT_EQ(find_shadow_line(shadow, "alice").value_or("?"), "alice:$y$j9T$first:19000::::::");
    EXPECT_EQ(find_shadow_line(shadow, "bob").value_or("?"), "bob:!:19000::::::");
    EXPECT_EQ(find_shadow_line(shadow, "alice2").value_or("?"), "alice2:$y$j9T$other:19000::::::");
    EXPECT_FALSE(find_shadow_line(shadow, "ali").has_value());
    EXPECT_FALSE(find_shadow_line(shadow, "carol").has_value());
    EXPECT_FALSE(find_shadow_line("", "alice").has_value());
    EXPECT_EQ(find_shadow_line("\n\nx:\n", "x").value_or("?"), "x:");
}

TEST(AuthShadow, HashIsTheSecondField) {
    const struct {
        std::string line;
        std::optional<std::string> hash;
    } cases[] = {
        {"alice:$y$j9T$abc:19000::::::", "$y$j9T$abc"},
        {"bob:!$y$j9T$abc:1::::::", "!$y$j9T$abc"},
        {"carol::19000::::::", ""},
        {"dave:*", "*"},
        {"eve:", ""},
        {"nofields", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto hash = shadow_hash_field(c.line);
        ASSERT_EQ(hash.has_value(), c.hash.has_value()) << c.line;
        if (hash) {
            EXPECT_EQ(std::string(*hash), *c.hash) << c.line;
        }
    }
}

TEST(AuthCredentials, ReleasingAClientWithoutHandleWipesTheCredentials) {
    PamClient client;
    client.credentials = std::make_unique<PamCredentials>();
    client.credentials->password = SecretText("s3cret");
    client.session_open = true;
    release_pam_client(client);
    EXPECT_EQ(client.credentials, nullptr);
    EXPECT_FALSE(client.session_open);
    EXPECT_EQ(client.handle, nullptr);
}

}  // namespace

TEST(AuthSessionItems, ATerminalOnlyWhereTheSeatHasTerminals) {
    const std::vector<PamEnvItem> common = {
        {"XDG_SESSION_TYPE", "x11"}, {"XDG_SESSION_CLASS", "user"}, {"XDG_SEAT", "seat0"}};
    EXPECT_EQ(session_pam_items(std::nullopt), common);
    std::vector<PamEnvItem> with_terminal = common;
    with_terminal.emplace_back("XDG_VTNR", "1");
    EXPECT_EQ(session_pam_items(1), with_terminal);
    const DesktopSession xfce{"xfce", "Xfce Session", "startxfce4", "XFCE:X-Extra"};
    std::vector<PamEnvItem> with_desktop = common;
    with_desktop.emplace_back("DESKTOP_SESSION", "xfce");
    with_desktop.emplace_back("XDG_SESSION_DESKTOP", "xfce");
    with_desktop.emplace_back("XDG_CURRENT_DESKTOP", "XFCE:X-Extra");
    EXPECT_EQ(session_pam_items(std::nullopt, &xfce), with_desktop);
}
