// Starting the X server once and connecting to it.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

inline constexpr const char* X_DISPLAY_NAME = ":0";
inline constexpr int X_SERVER_VT = 1;
inline constexpr const char* X_SERVER_PATH = "/usr/bin/Xorg";
inline constexpr int CONNECT_ATTEMPTS = 30;

// The X server child's PID, or 0 when it could not be forked.
pid_t start_x_server();

// An open connection to ":0", or null after every attempt failed.
Display* connect_display();

void stop_x_server(pid_t pid);
