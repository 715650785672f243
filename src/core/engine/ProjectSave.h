#pragma once

#include "engine/BackupEngine.h"
#include "util/FileError.h"

#include <string>

// Writes the set-up to the current project file. A file that cannot be written
// goes to the context's reporter instead of ending the tick or the run: the
// schedule must keep running even when its project file cannot be saved.
// False when the save failed. An owner that never edits the project
// (setup.savesRunStateOnly) saves only the run state, as SaveRunState does.
bool SaveCurrentProject(BackupContext& context);

// The end of a run: writes only what the run owns (minutes remaining, last run)
// over the project file as it is on disk now, so an edit made during the run
// (by hand, in the window, by another program) is kept. A failure goes to the
// context's reporter; false when the save failed.
bool SaveRunState(BackupContext& context);

// The reason part of a FileError's message (without the leading file name).
std::string FileErrorReason(const FileError& error);
