// The PAM conversation: what the daemon answers to the prompts of PAM modules, and what it keeps
// of their messages for the login screen.
#pragma once

#include <security/pam_appl.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "secret.h"

// A module's message is kept cleaned and cut to this many bytes, and only the last few of them.
inline constexpr size_t MODULE_MESSAGE_BYTES = 200;
inline constexpr size_t KEPT_MODULE_MESSAGES = 4;

// The answers the conversation gives and the messages it heard. PAM holds its address as
// application data, so it lives on the heap and never moves; the secrets are wiped when it goes.
struct PamCredentials {
    std::string login;
    SecretText password;
    // The new password while an expired one is changed; empty otherwise.
    SecretText new_password;
    // Set while pam_chauthtok runs: only then may a hidden prompt ask for the new password.
    bool changing = false;
    // An automatic login has no password: a module that asks for one is refused, never handed
    // an empty answer.
    bool no_password = false;
    // The last text and error messages of the modules, oldest first.
    std::vector<std::string> messages;

    PamCredentials() = default;
    PamCredentials(const PamCredentials&) = delete;
    PamCredentials& operator=(const PamCredentials&) = delete;
    ~PamCredentials();
};

enum class PromptAnswer { None, Login, Password, NewPassword };

// What answers one message: nothing for text and error messages; the login for visible prompts
// and unknown styles; the password for hidden prompts, except during a change, where only a
// prompt that asks for the current (or old) password gets it and every other one the new one.
PromptAnswer classify_prompt(int style, std::string_view prompt, bool changing);

// Keeps a module's message (cleaned by `display_text`), dropping the oldest beyond
// KEPT_MODULE_MESSAGES; a message that is empty once cleaned is not kept.
void keep_module_message(std::vector<std::string>& kept, std::string_view raw);

// The kept messages as one line for the login screen, oldest first: after a sentence's end
// (".", "!", "?", ")") a blank, otherwise "; "; a message repeating the one before it is dropped.
std::string join_module_messages(const std::vector<std::string>& messages);

// The conversation function given to pam_start; `appdata` is the transaction's PamCredentials.
// Text and error messages are kept and get empty answers; only an answer that cannot be handed to
// C fails the conversation.
int pam_conversation(int num_msg, const struct pam_message** msg, struct pam_response** resp,
                     void* appdata);
