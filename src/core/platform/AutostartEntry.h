#pragma once

#include <optional>
#include <string>

// Start with the desktop session: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/tarnwick-backup.desktop whose Exec line starts the
// given command. The command is stored as given; "%" is escaped as "%%" in the
// Exec line, so the literal argument "%1" reaches the program.
std::string AutostartEntryPath();
void WriteAutostartEntry(const std::string& command);
// Deleting a missing entry is not an error.
void DeleteAutostartEntry();
// The command of the entry, nullopt when there is none.
std::optional<std::string> ReadAutostartCommand();
