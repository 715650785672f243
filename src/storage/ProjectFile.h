#pragma once

#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kProjectHeader = "Tarnwick Backup Project";

enum class ProjectLoad {
    Loaded,
    Missing,      // nothing at the path: nothing loaded, nothing written
    NotAProject,  // first line is not the header: nothing loaded, nothing written
};

// Writes header, destination, interval, minutes remaining, last run and the
// entry line, atomically and with mode 0600 (the destination may hold an FTP
// password). Throws FileError naming the file.
void WriteProject(const std::string& path, const BackupSetup& setup);

// Reads a project into setup (destination with "FirstStart" resolved, the
// interval split into the three boxes, entries) and writes it back normalised.
ProjectLoad LoadProject(const std::string& path, BackupSetup& setup);

// The Open command after the user chose a path: loads it, and makes it the
// current project file when it loaded or does not exist yet (the next change
// creates it). A file that is not a project leaves the current project as it was.
ProjectLoad OpenProject(const std::string& path, BackupSetup& setup);

// The Save-as command after the user chose a path: copies the default project
// file (setting "Path") there, silently; nothing happens when that file is
// missing. A failed copy throws FileError naming the chosen path.
void SaveProjectAs(PowerClass& settings, const std::string& chosenPath);

// Why a text cannot be held by a project file ("*" in an entry, a line break),
// nullopt when it can.
std::optional<std::string> WhyEntryNotStorable(std::string_view entry);
std::optional<std::string> WhyDestinationNotStorable(std::string_view destination);
