#pragma once

#include "engine/BackupWindow.h"
#include "platform/ShellCopy.h"
#include "platform/TransferReporter.h"

#include <string>

// ShellCopy on a thread of its own while the calling (window) thread keeps
// turning: it pumps the window at least every 15 ms, whatever the disk does
// (a file system that holds a write back can stall one call for hundreds of
// milliseconds), and passes the copy's reports on to `reporter` on the calling
// thread, in their order. The copy reads `options` (and its target) alone
// until it returns; an exception of the copy is thrown here. A small single
// file is simply copied on the calling thread.
CopyOutcome CopyBesideTheWindow(const std::string& source, const std::string& destination,
                                const CopyOptions& options, TransferReporter& reporter, BackupWindow& window);
