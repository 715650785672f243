#pragma once

#include "storage/BackupSetup.h"

#include <optional>
#include <ostream>
#include <string>

// `schedule --systemd`: writes the project's systemd user service and timer
// (the timer at the project's interval), reloads the user manager and enables
// the timer when systemctl and a user manager answer, and otherwise says what
// to run. While the timer's file exists the desktop program's scheduler leaves
// the project to it. Returns the exit code.
int WriteSystemdSchedule(const std::optional<std::string>& project, std::ostream& out, std::ostream& err);

// `schedule --systemd --off`: disables the timer and removes both units; the
// desktop program's scheduler is in charge again. Returns the exit code.
int RemoveSystemdSchedule(const std::optional<std::string>& project, std::ostream& out, std::ostream& err);

// Which scheduler runs the project, for status.
struct SchedulerInCharge {
    std::string kind;                       // "systemd", "window" or "none"
    std::optional<std::string> timer;       // the timer's unit name
    std::optional<std::string> nextElapse;  // as systemctl --user list-timers shows it
};
SchedulerInCharge FindSchedulerInCharge(const BackupSetup& setup);
