#pragma once

#include "platform/TransferReporter.h"

#include <string>

// Copies like the desktop shell does, without asking anything:
// - source "<folder>/*.*": every entry of the folder, recursively, dot files
//   included, into the destination folder;
// - source a folder: the folder itself into the destination folder when that
//   exists, else the destination becomes the copy;
// - source a file: into the destination when it is an existing folder, else to
//   the destination path itself.
// Existing targets are overwritten, missing target folders are created, each
// file keeps its modification time and mode. A file is written to a temporary
// name beside its target and renamed over it, so a failed copy leaves the old
// copy whole. A source that does not exist is skipped silently. Errors go to the
// reporter; progress goes there only when showProgress is true.
void ShellCopy(const std::string& source, const std::string& destination, bool showProgress,
               TransferReporter& reporter);
