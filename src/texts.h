// The login screen's own texts in the system's language, from the gettext catalogs of the domain
// "vesko". Only the lookups made here use that language: the process stays in the C locale, so
// the log, PAM (whose prompts the expired-password change reads) and every child keep English.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* TEXT_DOMAIN = "vesko";

// Marks an English text for the catalog where it is defined; `tr` translates it where it is
// shown. (The name is the one xgettext knows.)
constexpr const char* N_(const char* english) {
    return english;
}

// The locale variables of the daemon's environment that choose the language.
struct LocaleEnvironment {
    std::string lc_all;
    std::string lc_messages;
    std::string lang;
    // gettext's list of languages, tried before the locale's own ("de_DE:de").
    std::string language;
};

LocaleEnvironment locale_environment();

// The locale that names the messages' language, as the C library chooses it: LC_ALL, then
// LC_MESSAGES, then LANG, the first that is set and not empty; "C" when none is.
std::string messages_locale(const LocaleEnvironment& env);

// Whether a locale name means untranslated texts: C, POSIX, C.UTF-8 and the like.
bool is_c_locale(std::string_view name);

// Letters, digits and "_.@-" only (no path), at most 64 bytes.
bool is_plain_locale_name(std::string_view name);

// The language part of a locale name, without the codeset: "pt_BR" for "pt_BR.UTF-8",
// "sr_RS@latin" for "sr_RS.UTF-8@latin".
std::string language_of(std::string_view locale);

// Chooses the login screen's language from `env` and binds the catalogs in `locale_dir`
// (LL/LC_MESSAGES/vesko.mo). English for a C locale or a name that is not plain. LANGUAGE is made
// what `env` says; but a locale that is not generated on the machine still gets its catalog: then
// the lookups use C.UTF-8 and, unless `env` has a list of its own, LANGUAGE is the locale's
// language. Call before any other thread starts (it may change LANGUAGE); calling again replaces
// the choice. Returns the line the log keeps about it.
std::string init_texts(const LocaleEnvironment& env, const std::string& locale_dir);

// Whether a catalog answers for the chosen language.
bool texts_translated();

// `english` in the login screen's language; itself without a translation or before init_texts.
// The text stays valid for the whole run.
const char* tr(const char* english);

// `text` with its first "%s" replaced by `argument` (which is never looked at for "%" itself).
std::string fill_text(std::string_view text, std::string_view argument);

// One text in both forms: English for the log, and as the login screen shows it.
struct ScreenText {
    std::string english;
    std::string shown;
};

// `english` (a catalog text with at most one "%s") filled with `argument`, in both forms.
ScreenText screen_text(const char* english, std::string_view argument = {});
