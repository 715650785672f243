#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The systemd user service and timer that run one project with the runner.
// Their names hold a hash of the project's absolute path, so that the units of
// several projects sit side by side, and the window and the runner find the
// same units however the project was named to them.
struct SystemdUnits {
    std::string folder;       // $XDG_CONFIG_HOME/systemd/user
    std::string serviceName;  // "tarnwick-backup-<file stem>-<hash>.service"
    std::string timerName;    // the same with ".timer"

    std::string ServicePath() const { return folder + "/" + serviceName; }
    std::string TimerPath() const { return folder + "/" + timerName; }
};

// The project file's absolute path with symbolic links resolved (as far as the
// path exists), the one form the unit names and the service use.
std::string ProjectPathForUnits(const std::string& projectPath);

// nullopt when the user's configuration folder cannot be resolved.
std::optional<SystemdUnits> SystemdUnitsFor(const std::string& projectPath);

// Why a path cannot be written into a unit file (a line break), nullopt when it can.
std::optional<std::string> WhyNotInUnitFile(const std::string& path);

// The service: one run of the project by the runner at runnerPath, with the
// configuration folder of this user pinned so the run finds the same settings.
std::string ServiceUnitText(const std::string& runnerPath, const std::string& projectPath,
                            const std::string& configHome);

// The timer for a schedule of intervalMinutes (> 0). An interval that a
// calendar expression can hold exactly (minutes dividing an hour, hours
// dividing a day, a day, a week) becomes OnCalendar with Persistent=true, so a
// run missed while the machine was off happens at the next boot; any other
// interval counts from the last run (OnUnitActiveSec) and from boot.
std::string TimerUnitText(std::int32_t intervalMinutes, const std::string& projectPath,
                          const std::string& serviceName);

// The timer's file of the project exists: the timer runs the project and the
// desktop program's scheduler stands aside for it.
bool SystemdTimerInCharge(const std::string& projectPath);
