// The greeter window's hold on the X server: its grabs and the root's current size.
#pragma once

#include <X11/Xlib.h>

// Another client may hold the keyboard or pointer for a moment; longer, and it is an attack.
inline constexpr int GRAB_TIMEOUT_MS = 1000;
inline constexpr int GRAB_RETRY_MS = 50;

// Both grabs or neither, retried for GRAB_TIMEOUT_MS; false (the window unmapped) when another
// client holds them.
bool grab_input(Display* display, Window window, Cursor cursor);

// The root window's size as it is now.
void root_size(Display* display, Window root, unsigned& width, unsigned& height);
