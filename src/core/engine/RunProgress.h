#pragma once

#include "platform/TransferReporter.h"

#include <algorithm>
#include <cstdint>
#include <string>

// How far a run has got over the files it will handle. The totals come from a
// quick counting walk before the first copy; a file that appears or grows
// meanwhile raises the total to what was done, so the share done never falls.
class RunProgress {
public:
    // Starts afresh: counting, nothing done, the clock at nowNs.
    void Begin(std::int64_t nowNs);
    // The counting walk found one more file.
    void Counted(std::uint64_t bytes);
    // The walk is over; the estimate of time left runs from nowNs.
    void CountingDone(std::int64_t nowNs);

    // A copy or upload operation begins: its reports add to what was done before it.
    void BeginOperation();
    // A report of the operation at hand (its counts run from its own start).
    void Absorb(const TransferProgress& progress);
    // The operation at hand handled `files` files of `bytes` in all, whatever
    // its reports said.
    void EndOperation(std::uint64_t files, std::uint64_t bytes);
    // A file handled without a copy (unchanged, or gone since the walk).
    void Settled(const std::string& path, std::uint64_t bytes);

    bool Counting() const { return counting_; }
    std::uint64_t FilesDone() const { return filesDone_; }
    std::uint64_t FilesTotal() const { return std::max(filesTotal_, filesDone_); }
    std::uint64_t BytesDone() const { return bytesDone_; }
    std::uint64_t BytesTotal() const { return std::max(bytesTotal_, bytesDone_); }
    const std::string& CurrentFile() const { return currentFile_; }
    // The share done, 0 to 1: files and bytes weigh half each, so neither many
    // small files nor one large one make the bar stand still.
    double DoneShare() const;
    // Seconds left at nowNs, from the pace so far; -1 while too little is known.
    std::int64_t SecondsLeft(std::int64_t nowNs) const;
    // True when a display is due at nowNs: forced, or the last one was long
    // enough ago (a display costs far more than a copy of a small file).
    bool TakeDisplayTurn(std::int64_t nowNs, bool force);

private:
    bool counting_ = false;
    std::uint64_t filesTotal_ = 0;
    std::uint64_t bytesTotal_ = 0;
    std::uint64_t filesDone_ = 0;
    std::uint64_t bytesDone_ = 0;
    std::string currentFile_;
    std::int64_t copyStartNs_ = 0;
    // Where the operation at hand began; its reports count from an origin of
    // their own (the copy from 0, an upload session from its earlier files).
    std::uint64_t operationFiles_ = 0;
    std::uint64_t operationBytes_ = 0;
    bool operationOriginKnown_ = false;
    std::uint64_t operationOrigin_ = 0;
    std::int64_t lastDisplayNs_ = 0;
    bool displayed_ = false;
};

// "12.3 MB": a size with one decimal, for progress displays.
std::string ProgressSizeText(std::uint64_t bytes);
// "1:05:09", "4:07" or "0:09".
std::string DurationText(std::int64_t seconds);
// The clock progress is measured with (monotonic nanoseconds).
std::int64_t ProgressClockNs();
