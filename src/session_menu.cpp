#include "session_menu.h"

#include <optional>

#include "log.h"
#include "session_choice.h"
#include "texts.h"
#include "user.h"

void load_session_menu(std::vector<DesktopSession>& sessions, GreeterState& state,
                       const std::string& dir) {
    sessions = list_sessions(dir);
    state.session_labels.assign(1, tr(DEFAULT_SESSION_LABEL));
    for (const DesktopSession& session : sessions) {
        state.session_labels.push_back(session.name);
    }
    state.session_index = 0;
    state.session_picked = false;
    state.chooser_open = false;
    state.chooser_highlight = 0;
}

void show_remembered_session(const std::vector<DesktopSession>& sessions, GreeterState& state) {
    if (state.session_picked || sessions.empty()) {
        return;
    }
    state.session_index = 0;
    const std::optional<UserInfo> user = lookup_user(state.username);
    if (!user) {
        return;
    }
    const std::optional<std::string> id = load_session_choice(user->uid);
    if (!id) {
        return;
    }
    for (size_t i = 0; i < sessions.size(); ++i) {
        if (sessions[i].id == *id) {
            state.session_index = i + 1;
            return;
        }
    }
    log_message(LogLevel::Info, "Sessions: the session '" + *id + "' remembered for uid " +
                                    std::to_string(user->uid) +
                                    " is no longer installed; showing Default");
}

const DesktopSession* chosen_session(const std::vector<DesktopSession>& sessions,
                                     const GreeterState& state) {
    if (state.session_index == 0 || state.session_index > sessions.size()) {
        return nullptr;
    }
    return &sessions[state.session_index - 1];
}

void remember_session(const std::vector<DesktopSession>& sessions, const GreeterState& state) {
    // With no session to choose from (a folder emptied for a moment) nothing was chosen.
    if (sessions.empty()) {
        return;
    }
    const std::optional<UserInfo> user = lookup_user(state.username);
    if (!user) {
        return;
    }
    const DesktopSession* chosen = chosen_session(sessions, state);
    const Result<Ok> saved = save_session_choice(user->uid, chosen ? chosen->id : std::string());
    if (!saved.ok()) {
        log_message(LogLevel::Warn, "Cannot remember the session: " + saved.error());
    }
}
