#pragma once

#include "storage/BackupSetup.h"
#include "storage/PowerClass.h"

#include <cstdint>
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
// interval split into the three boxes, entries without empty ones) and writes
// nothing. Only a Loaded result changes setup. A file that is not a regular file
// or too large to be a project throws FileError.
ProjectLoad ReadProject(const std::string& path, BackupSetup& setup);

// Writes a just-read set-up back in the normalised layout, when the file is not
// in that layout already (or its mode lets others read it). Lines after the entry
// line, which the layout cannot hold, keep the file as it is. Throws FileError.
void WriteBackNormalised(const std::string& path, const BackupSetup& setup);

// ReadProject, then WriteBackNormalised when it loaded. A failed write-back
// throws FileError after setup was loaded.
ProjectLoad LoadProject(const std::string& path, BackupSetup& setup);

// The Open command after the user chose a path, all or nothing: a project that
// loads and can be written back (or does not exist yet: the next change creates
// it) becomes the current project file with its set-up. A file that is not a
// project, or one whose write-back fails (FileError), leaves setup as it was.
ProjectLoad OpenProject(const std::string& path, BackupSetup& setup);

// What a run owns in its project file, written over the file as it is on disk
// now: the other lines (edited meanwhile by hand, by the window or another
// program) stay as they are. A file that is gone or no longer a project throws
// FileError, and so does a failed write.
void SaveRunStateToProject(const std::string& path, std::int32_t minutesRemaining,
                           const std::string& lastRun);

// The Save-as command after the user chose a path: copies the default project
// file (setting "Path") there, silently. A missing default project throws
// FileError naming it; a failed copy throws FileError naming the chosen path.
void SaveProjectAs(PowerClass& settings, const std::string& chosenPath);

// Why a text cannot be held by a project file ("*" in an entry, a line break),
// nullopt when it can.
std::optional<std::string> WhyEntryNotStorable(std::string_view entry);
std::optional<std::string> WhyDestinationNotStorable(std::string_view destination);
