#include "pam_conversation.h"

#include <string.h>

#include <cstdlib>
#include <utility>

#include "text.h"

namespace {

// Answers already handed out may hold a password, so they are wiped before being freed.
void free_responses(pam_response* responses, int count) {
    for (int i = 0; i < count; ++i) {
        if (responses[i].resp != nullptr) {
            explicit_bzero(responses[i].resp, strlen(responses[i].resp));
            std::free(responses[i].resp);
        }
    }
    std::free(responses);
}

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool same_word(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if ((word[i] | 0x20) != lower[i]) {
            return false;
        }
    }
    return true;
}

// "Current password: ", "(current) UNIX password: ", "Old Password: ".
bool asks_for_current_password(std::string_view prompt) {
    size_t i = 0;
    while (i < prompt.size()) {
        if (!is_ascii_letter(prompt[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < prompt.size() && is_ascii_letter(prompt[i])) {
            ++i;
        }
        const std::string_view word = prompt.substr(start, i - start);
        if (same_word(word, "current") || same_word(word, "old")) {
            return true;
        }
    }
    return false;
}

std::string_view answer_text(const PamCredentials& credentials, PromptAnswer answer) {
    switch (answer) {
        case PromptAnswer::Login:
            return credentials.login;
        case PromptAnswer::Password:
            return credentials.password.view();
        case PromptAnswer::NewPassword:
            return credentials.new_password.view();
        case PromptAnswer::None:
            break;
    }
    return {};
}

}  // namespace

PamCredentials::~PamCredentials() {
    wipe_text(login);
}

PromptAnswer classify_prompt(int style, std::string_view prompt, bool changing) {
    switch (style) {
        case PAM_TEXT_INFO:
        case PAM_ERROR_MSG:
            return PromptAnswer::None;
        case PAM_PROMPT_ECHO_OFF:
            if (changing && !asks_for_current_password(prompt)) {
                return PromptAnswer::NewPassword;
            }
            return PromptAnswer::Password;
        default:
            return PromptAnswer::Login;
    }
}

void keep_module_message(std::vector<std::string>& kept, std::string_view raw) {
    std::string text = display_text(raw, MODULE_MESSAGE_BYTES);
    if (text.empty()) {
        return;
    }
    if (kept.size() >= KEPT_MODULE_MESSAGES) {
        kept.erase(kept.begin(), kept.end() - (KEPT_MODULE_MESSAGES - 1));
    }
    kept.push_back(std::move(text));
}

std::string join_module_messages(const std::vector<std::string>& messages) {
    std::string joined;
    const std::string* previous = nullptr;
    for (const std::string& message : messages) {
        if (previous != nullptr && message == *previous) {
            continue;
        }
        if (!joined.empty()) {
            joined +=
                std::string_view(".!?)").find(joined.back()) != std::string_view::npos ? " " : "; ";
        }
        joined += message;
        previous = &message;
    }
    return joined;
}

int pam_conversation(int num_msg, const struct pam_message** msg, struct pam_response** resp,
                     void* appdata) {
    if (num_msg <= 0 || msg == nullptr || resp == nullptr || appdata == nullptr) {
        return PAM_CONV_ERR;
    }
    auto* credentials = static_cast<PamCredentials*>(appdata);
    auto* responses =
        static_cast<pam_response*>(std::calloc(static_cast<size_t>(num_msg), sizeof(pam_response)));
    if (responses == nullptr) {
        return PAM_BUF_ERR;
    }
    for (int i = 0; i < num_msg; ++i) {
        const pam_message* message = msg[i];
        const std::string_view text = message->msg == nullptr ? "" : message->msg;
        const PromptAnswer kind = classify_prompt(message->msg_style, text, credentials->changing);
        if (kind == PromptAnswer::None) {
            keep_module_message(credentials->messages, text);
            continue;
        }
        const std::string_view answer = answer_text(*credentials, kind);
        const bool asks_password =
            kind == PromptAnswer::Password || kind == PromptAnswer::NewPassword;
        if (answer.find('\0') != std::string_view::npos ||
            (asks_password && credentials->no_password)) {
            free_responses(responses, num_msg);
            return PAM_CONV_ERR;
        }
        // PAM owns the copy from here on; libpam and its modules wipe answers before freeing.
        responses[i].resp = ::strndup(answer.data(), answer.size());
        if (responses[i].resp == nullptr) {
            free_responses(responses, num_msg);
            return PAM_BUF_ERR;
        }
    }
    *resp = responses;
    return PAM_SUCCESS;
}
