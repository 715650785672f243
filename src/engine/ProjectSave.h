#pragma once

#include "engine/BackupEngine.h"
#include "util/FileError.h"

#include <string>

// Writes the set-up to the current project file. A file that cannot be written
// goes to the context's reporter instead of ending the tick or the run: the
// schedule must keep running even when its project file cannot be saved.
// False when the save failed.
bool SaveCurrentProject(BackupContext& context);

// The reason part of a FileError's message (without the leading file name).
std::string FileErrorReason(const FileError& error);
