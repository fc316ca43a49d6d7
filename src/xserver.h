// Starting the X server once and connecting to it.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <string>
#include <vector>

inline constexpr const char* X_DISPLAY_NAME = ":0";
inline constexpr int X_SERVER_VT = 1;
inline constexpr const char* X_SERVER_PATH = "/usr/bin/Xorg";
inline constexpr int CONNECT_ATTEMPTS = 30;

// The X server's argument list, argument zero first: "Xorg", ":0", "vt1", "-nolisten", "tcp",
// then "-auth" and the path when there is an authority file (`authority_path` not null).
std::vector<std::string> x_server_arguments(const char* authority_path);

// The X server child's PID, or 0 when it could not be forked.
pid_t start_x_server(const std::vector<std::string>& arguments);

// An open connection to ":0", or null after every attempt failed.
Display* connect_display();

void stop_x_server(pid_t pid);
