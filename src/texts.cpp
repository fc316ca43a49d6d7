#include "texts.h"

#include <libintl.h>
#include <locale.h>

#include <cstdlib>
#include <utility>

// gettext keeps what it found per locale name, and C.UTF-8 stands for every language that is not
// generated: a new choice bumps this counter, as the gettext manual shows for a change of
// LANGUAGE, so that none of the last choice's answers is kept.
extern "C" int _nl_msg_cat_cntr;

namespace {

constexpr size_t MAX_LOCALE_NAME_BYTES = 64;
// Always there: glibc builds it in.
constexpr const char* UTF8_C_LOCALE = "C.UTF-8";

// The locale object of the lookups: LC_MESSAGES alone, every other category stays C.
struct MessagesLocale {
    locale_t handle = nullptr;

    MessagesLocale() = default;
    explicit MessagesLocale(locale_t h) : handle(h) {}
    MessagesLocale(const MessagesLocale&) = delete;
    MessagesLocale& operator=(const MessagesLocale&) = delete;
    MessagesLocale& operator=(MessagesLocale&& other) noexcept {
        std::swap(handle, other.handle);
        return *this;
    }
    ~MessagesLocale() {
        if (handle != nullptr) {
            ::freelocale(handle);
        }
    }
};

// Set once by init_texts before other threads exist; read-only afterwards.
MessagesLocale chosen_locale;
bool translated = false;

std::string environment_value(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool is_plain_char(char c, bool list) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '@' || c == '-' || (list && c == ':');
}

// LANGUAGE as gettext reads it, with the same characters as a locale name plus ":".
bool is_plain_language_list(std::string_view list) {
    if (list.size() > 4 * MAX_LOCALE_NAME_BYTES) {
        return false;
    }
    for (const char c : list) {
        if (!is_plain_char(c, true)) {
            return false;
        }
    }
    return true;
}

// gettext reads LANGUAGE from the process environment at every lookup; it is made to say what
// `wanted` says (nothing: unset).
void set_language_list(const std::string& wanted) {
    if (wanted.empty()) {
        ::unsetenv("LANGUAGE");
    } else {
        ::setenv("LANGUAGE", wanted.c_str(), 1);
    }
}

const char* lookup(const char* english) {
    const locale_t previous = ::uselocale(chosen_locale.handle);
    const char* text = ::dgettext(TEXT_DOMAIN, english);
    ::uselocale(previous);
    return text;
}

}  // namespace

LocaleEnvironment locale_environment() {
    return LocaleEnvironment{environment_value("LC_ALL"), environment_value("LC_MESSAGES"),
                             environment_value("LANG"), environment_value("LANGUAGE")};
}

std::string messages_locale(const LocaleEnvironment& env) {
    for (const std::string* value : {&env.lc_all, &env.lc_messages, &env.lang}) {
        if (!value->empty()) {
            return *value;
        }
    }
    return "C";
}

bool is_c_locale(std::string_view name) {
    return name == "C" || name == "POSIX" || name.starts_with("C.") || name.starts_with("C@");
}

bool is_plain_locale_name(std::string_view name) {
    if (name.empty() || name.size() > MAX_LOCALE_NAME_BYTES || name.front() == '.') {
        return false;
    }
    for (const char c : name) {
        if (!is_plain_char(c, false)) {
            return false;
        }
    }
    return true;
}

std::string language_of(std::string_view locale) {
    const size_t dot = locale.find('.');
    if (dot == std::string_view::npos) {
        return std::string(locale);
    }
    const size_t at = locale.find('@', dot);
    std::string language(locale.substr(0, dot));
    if (at != std::string_view::npos) {
        language += locale.substr(at);
    }
    return language;
}

std::string init_texts(const LocaleEnvironment& env, const std::string& locale_dir) {
    chosen_locale = MessagesLocale();
    translated = false;
    const std::string language = is_plain_language_list(env.language) ? env.language : "";
    set_language_list(language);
    const std::string name = messages_locale(env);
    if (is_c_locale(name)) {
        return "Language: " + name + ", login screen in English";
    }
    if (!is_plain_locale_name(name)) {
        return "Language: the locale name is not usable, login screen in English";
    }
    ::bindtextdomain(TEXT_DOMAIN, locale_dir.c_str());
    // Whatever the codeset of the locale, Xft draws UTF-8.
    ::bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
    std::string how;
    locale_t handle = ::newlocale(LC_MESSAGES_MASK, name.c_str(), nullptr);
    if (handle == nullptr) {
        // gettext needs no generated locale, only a name other than C: C.UTF-8 with the
        // language in LANGUAGE finds the same catalog.
        handle = ::newlocale(LC_MESSAGES_MASK, UTF8_C_LOCALE, nullptr);
        const std::string list = language.empty() ? language_of(name) : language;
        set_language_list(list);
        how = " (not generated here; catalogs for LANGUAGE=" + list + ")";
    }
    if (handle == nullptr) {
        return "Language: " + name + " cannot be used, login screen in English";
    }
    chosen_locale = MessagesLocale(handle);
    ++_nl_msg_cat_cntr;
    // A catalog's header is the translation of the empty text: there only where one was found.
    translated = *lookup("") != '\0';
    return "Language: " + name + how +
           (translated ? ", login screen translated" : ", no catalog, login screen in English");
}

bool texts_translated() {
    return translated;
}

const char* tr(const char* english) {
    if (!translated || english == nullptr || *english == '\0') {
        return english;
    }
    return lookup(english);
}

std::string fill_text(std::string_view text, std::string_view argument) {
    const size_t at = text.find("%s");
    if (at == std::string_view::npos) {
        return std::string(text);
    }
    std::string filled(text.substr(0, at));
    filled += argument;
    filled += text.substr(at + 2);
    return filled;
}

ScreenText screen_text(const char* english, std::string_view argument) {
    return ScreenText{fill_text(english, argument), fill_text(tr(english), argument)};
}
