#pragma once

#include "storage/BackupSetup.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kProjectHeader = "Tarnwick Backup Project";

enum class ProjectLoad {
    Loaded,
    Missing,       // nothing at the path: nothing loaded, nothing written
    NotAProject,   // first line is not the header: nothing loaded, nothing written
};

// Writes header, destination, interval, minutes remaining, last run and the
// entry line, atomically and with mode 0600 (the destination may hold an FTP
// password). Throws FileError naming the file.
void WriteProject(const std::string& path, const BackupSetup& setup);

// Reads a project into setup (destination with "FirstStart" resolved, the
// interval split into the three boxes, entries) and writes it back normalised.
ProjectLoad LoadProject(const std::string& path, BackupSetup& setup);

// Why a text cannot be held by a project file ("*" in an entry, a line break),
// nullopt when it can.
std::optional<std::string> WhyEntryNotStorable(std::string_view entry);
std::optional<std::string> WhyDestinationNotStorable(std::string_view destination);
