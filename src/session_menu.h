// The login screen's side of the session chooser: the sessions of one showing, the one a user
// chose last time, and remembering the one a user logs in with.
#pragma once

#include <string>
#include <vector>

#include "greeter_state.h"
#include "session_list.h"

// Reads the sessions folder for this showing and puts "Default" and their names in the state.
void load_session_menu(std::vector<DesktopSession>& sessions, GreeterState& state,
                       const std::string& dir);

// Shows the session the named user chose last time ("Default" without one, or when it is gone),
// unless a session was chosen by hand in this showing.
void show_remembered_session(const std::vector<DesktopSession>& sessions, GreeterState& state);

// The session the state names; null: "Default".
const DesktopSession* chosen_session(const std::vector<DesktopSession>& sessions,
                                     const GreeterState& state);

// Remembers the chosen session for the user whose session it started.
void remember_session(const std::vector<DesktopSession>& sessions, const GreeterState& state);
