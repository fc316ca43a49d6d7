// One showing of the login screen: window, grabs, event loop, and its teardown.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include "config.h"

// Everything one showing owns.
struct LoginScreen {
    Display* display = nullptr;
    Window window = 0;
};

// Shows a fresh greeter and returns the PID of the session a successful login started.
pid_t run_login_screen(Display* display, const Config& config, LoginScreen& screen);

void hide_login_screen(LoginScreen& screen);

// Destroys the window and releases everything else of the showing.
void close_login_screen(LoginScreen& screen);
