#include "engine/RunProgress.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {
// Before this much copying the pace says too little for an estimate.
constexpr std::int64_t kEstimateAfterNs = 1'000'000'000;
constexpr std::int64_t kDisplayIntervalNs = 100'000'000;
}  // namespace

void RunProgress::Begin(std::int64_t nowNs) {
    *this = RunProgress();
    counting_ = true;
    copyStartNs_ = nowNs;
}

void RunProgress::Counted(std::uint64_t bytes) {
    ++filesTotal_;
    bytesTotal_ += bytes;
}

void RunProgress::CountingDone(std::int64_t nowNs) {
    counting_ = false;
    copyStartNs_ = nowNs;
}

void RunProgress::BeginOperation() {
    operationFiles_ = filesDone_;
    operationBytes_ = bytesDone_;
    operationOriginKnown_ = false;
}

void RunProgress::Absorb(const TransferProgress& progress) {
    if (!operationOriginKnown_) {
        operationOriginKnown_ = true;
        operationOrigin_ = progress.bytesDone - std::min(progress.bytesDone, progress.fileBytesDone);
    }
    currentFile_ = progress.currentFile;
    const std::uint64_t operationBytes = progress.bytesDone - std::min(progress.bytesDone, operationOrigin_);
    filesDone_ = std::max(filesDone_, operationFiles_ + progress.filesDone);
    bytesDone_ = std::max(bytesDone_, operationBytes_ + operationBytes);
}

void RunProgress::EndOperation(std::uint64_t files, std::uint64_t bytes) {
    filesDone_ = std::max(filesDone_, operationFiles_ + files);
    bytesDone_ = std::max(bytesDone_, operationBytes_ + bytes);
}

void RunProgress::Settled(const std::string& path, std::uint64_t bytes) {
    currentFile_ = path;
    ++filesDone_;
    bytesDone_ += bytes;
}

double RunProgress::DoneShare() const {
    const double files = FilesTotal() == 0 ? 1.0 : static_cast<double>(filesDone_) / FilesTotal();
    const double bytes = BytesTotal() == 0 ? files : static_cast<double>(bytesDone_) / BytesTotal();
    return (files + bytes) / 2;
}

std::int64_t RunProgress::SecondsLeft(std::int64_t nowNs) const {
    const std::int64_t elapsed = nowNs - copyStartNs_;
    const double share = DoneShare();
    if (counting_) return -1;
    if (share >= 1) return 0;
    if (elapsed < kEstimateAfterNs || share <= 0) return -1;
    const double left = static_cast<double>(elapsed) * (1 - share) / share / 1e9;
    return static_cast<std::int64_t>(left + 0.5);
}

bool RunProgress::TakeDisplayTurn(std::int64_t nowNs, bool force) {
    if (!force && displayed_ && nowNs - lastDisplayNs_ < kDisplayIntervalNs) return false;
    displayed_ = true;
    lastDisplayNs_ = nowNs;
    return true;
}

std::string ProgressSizeText(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) return std::to_string(bytes) + " Bytes";
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string DurationText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::int64_t ProgressClockNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
