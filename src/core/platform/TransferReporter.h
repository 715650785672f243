#pragma once

#include <cstdint>
#include <string>

// Where the copy facility and the FTP transfer send what the user should see:
// their own errors (they never return them) and, when asked for, progress.
// The window shows errors in one message box per run and keeps repainting on
// progress; the CLI prints errors to stderr; tests record both.
struct TransferProgress {
    std::string currentFile;
    std::uint64_t fileBytesDone = 0;
    std::uint64_t fileBytesTotal = 0;
    std::uint64_t bytesDone = 0;  // over the whole operation
    std::uint64_t filesDone = 0;  // files of the operation finished (copied or failed)
};

class TransferReporter {
public:
    virtual ~TransferReporter() = default;
    virtual void ReportError(const std::string& path, const std::string& message) = 0;
    // Called at least every 100 ms while a large file moves, and once more when
    // a copy operation ends, with its final counts.
    virtual void ReportProgress(const TransferProgress& progress) = 0;
};
