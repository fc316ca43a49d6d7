// Power off and reboot through SysRq, and the switch to the console terminal.
#pragma once

#include "result.h"

inline constexpr const char* SYSRQ_TRIGGER_PATH = "/proc/sysrq-trigger";
inline constexpr const char* TTY0_PATH = "/dev/tty0";
inline constexpr int CONSOLE_VT = 2;
inline constexpr char SYSRQ_POWER_OFF = 'o';
inline constexpr char SYSRQ_REBOOT = 'b';

// The error is the errno of the failed open or write.
Result<Ok, int> write_sysrq(char command);

void switch_vt();
