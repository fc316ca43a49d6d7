// Power off and reboot through SysRq, and the switch to the console terminal.
#pragma once

#include "result.h"

inline constexpr const char* SYSRQ_TRIGGER_PATH = "/proc/sysrq-trigger";
inline constexpr const char* TTY0_PATH = "/dev/tty0";
inline constexpr int CONSOLE_VT = 2;
inline constexpr char SYSRQ_POWER_OFF = 'o';
inline constexpr char SYSRQ_REBOOT = 'b';

// Flushes the file systems, then hands the byte to the kernel. The error is the errno of the
// failed open or write.
Result<Ok, int> write_sysrq(char command);

// write_sysrq on another file; lets tests stay away from the real trigger.
Result<Ok, int> write_sysrq_to(const char* path, char command);

// Makes CONSOLE_VT the active terminal; logs its own lines.
void switch_vt();
