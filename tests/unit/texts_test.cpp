#include "texts.h"

#include <gtest/gtest.h>
#include <libintl.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "pam_conversation.h"

namespace {

// Every test leaves the texts in English and LANGUAGE as it found it.
class TextsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        (void)init_texts(LocaleEnvironment{"", "", "", saved_language_}, VESKO_BUILD_LOCALE_DIR);
    }
    static std::string choose(const std::string& lang, const std::string& language = "") {
        return init_texts(LocaleEnvironment{"", "", lang, language}, VESKO_BUILD_LOCALE_DIR);
    }

  private:
    const char* language_ = std::getenv("LANGUAGE");
    std::string saved_language_ = language_ != nullptr ? language_ : "";
};

TEST(Texts, LocaleVariablesInTheCLibrarysOrder) {
    const struct {
        LocaleEnvironment env;
        const char* locale;
    } cases[] = {
        {{"", "", "", ""}, "C"},
        {{"", "", "de_DE.UTF-8", ""}, "de_DE.UTF-8"},
        {{"", "fr_FR.UTF-8", "de_DE.UTF-8", ""}, "fr_FR.UTF-8"},
        {{"C", "fr_FR.UTF-8", "de_DE.UTF-8", ""}, "C"},
        {{"", "", "", "de"}, "C"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(messages_locale(c.env), c.locale);
    }
}

TEST(Texts, LocaleNames) {
    for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8"}) {
        EXPECT_TRUE(is_c_locale(name)) << name;
    }
    EXPECT_FALSE(is_c_locale("Czech"));
    EXPECT_TRUE(is_plain_locale_name("ca_ES.UTF-8@valencia"));
    for (const std::string& name : std::initializer_list<std::string>{
             "", "../../tmp/x", "de DE", ".hidden", std::string(65, 'a')}) {
        EXPECT_FALSE(is_plain_locale_name(name)) << name;
    }
    EXPECT_EQ(language_of("pt_BR.UTF-8"), "pt_BR");
    EXPECT_EQ(language_of("sr_RS.UTF-8@latin"), "sr_RS@latin");
}

TEST(Texts, FillPutsTheArgumentInOnce) {
    EXPECT_EQ(fill_text("Authentication failed: %s", "Auth_Err (7)"),
              "Authentication failed: Auth_Err (7)");
    EXPECT_EQ(fill_text("User '%s' not found", "%s%n"), "User '%s%n' not found");
    EXPECT_EQ(fill_text("Default", "x"), "Default");
}

TEST_F(TextsTest, EveryLanguageFromItsLocale) {
    const struct {
        const char* lang;
        const char* log_in;
    } cases[] = {
        {"de_DE.UTF-8", "Anmelden"},     {"de_AT.UTF-8", "Anmelden"},
        {"fr_FR.UTF-8", "Se connecter"}, {"es_ES.UTF-8", "Iniciar sesión"},
        {"pt_BR.UTF-8", "Entrar"},       {"ru_RU.UTF-8", "Войти"},
        {"pl_PL.UTF-8", "Zaloguj"},      {"de_DE", "Anmelden"},
    };
    for (const auto& c : cases) {
        const std::string line = choose(c.lang);
        EXPECT_TRUE(texts_translated()) << c.lang;
        EXPECT_STREQ(tr("Log In"), c.log_in) << line;
        EXPECT_NE(line.find("login screen translated"), std::string::npos) << line;
    }
}

TEST_F(TextsTest, EnglishWithoutACatalog) {
    const struct {
        LocaleEnvironment env;
        const char* line;
    } cases[] = {
        {{"", "", "", ""}, "Language: C, login screen in English"},
        {{"C", "", "de_DE.UTF-8", ""}, "Language: C, login screen in English"},
        {{"", "", "C.UTF-8", "de"}, "Language: C.UTF-8, login screen in English"},
        {{"", "", "../de", ""}, "Language: the locale name is not usable, login screen in English"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(init_texts(c.env, VESKO_BUILD_LOCALE_DIR), c.line);
        EXPECT_FALSE(texts_translated());
        EXPECT_STREQ(tr("Log In"), "Log In");
    }
    for (const char* lang : {"pt_PT.UTF-8", "ja_JP.UTF-8"}) {
        EXPECT_NE(choose(lang).find("no catalog, login screen in English"), std::string::npos);
        EXPECT_STREQ(tr("Log In"), "Log In");
    }
}

TEST_F(TextsTest, LanguageListComesFirst) {
    (void)choose("de_DE.UTF-8", "fr:de");
    EXPECT_STREQ(tr("Reboot"), "Redémarrer");
}

TEST_F(TextsTest, UnknownTextsStayAsTheyAre) {
    (void)choose("de_DE.UTF-8");
    EXPECT_STREQ(tr("Authentication token expired"), "Authentication token expired");
    EXPECT_STREQ(tr(""), "");
    const ScreenText text = screen_text(N_("Authentication failed: %s"), "Auth_Err (7)");
    EXPECT_EQ(text.english, "Authentication failed: Auth_Err (7)");
    EXPECT_EQ(text.shown, "Anmeldung fehlgeschlagen: Auth_Err (7)");
}

// pam_unix asks in the language of the process's locale; the change of an expired password
// tells its prompts apart by their English words. The screen's language must not reach it.
TEST_F(TextsTest, PamKeepsEnglish) {
    (void)choose("de_DE.UTF-8");
    ASSERT_STREQ(tr("Log In"), "Anmelden");
    EXPECT_STREQ(::setlocale(LC_ALL, nullptr), "C");
    const char* prompt = ::dgettext("Linux-PAM", "Current password: ");
    EXPECT_STREQ(prompt, "Current password: ");
    EXPECT_EQ(classify_prompt(PAM_PROMPT_ECHO_OFF, prompt, true), PromptAnswer::Password);
}

}  // namespace
