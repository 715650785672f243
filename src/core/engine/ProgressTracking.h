#pragma once

#include "engine/BackupEngine.h"
#include "engine/RunProgress.h"
#include "i18n/CTranslation.h"
#include "platform/TransferReporter.h"

#include <cstdint>
#include <string>

// Stands between a run and its reporter: every report of a copy or an upload
// moves run.progress on (and shows it when asked) before it is passed on.
class ProgressTrackingReporter : public TransferReporter {
public:
    ProgressTrackingReporter(TransferReporter& inner, BackupContext& context)
        : inner_(inner), context_(context) {}

    void ReportError(const std::string& path, const std::string& message) override {
        inner_.ReportError(path, message);
    }
    void ReportProgress(const TransferProgress& progress) override;

private:
    TransferReporter& inner_;
    BackupContext& context_;
};

// The quick first walk over the entries (exceptions held back, links not
// followed, a folder entry's own folder followed): every file and link found
// adds to run.progress's totals. Pumps a few times a second and stops once the
// run is cancelled. Unreadable folders are left to the copy to report.
void CountRunTotals(BackupContext& context);

// Hands run.progress to the window when the context asks for it and a display
// is due (or forced).
void ShowRunProgress(BackupContext& context, bool force = false);

// A file handled without a copy: unchanged, or gone since the walk.
void SettleFile(BackupContext& context, const std::string& path, std::uint64_t bytes);

// The words of a progress display, in the user's language: while counting only
// `files` ("Counting files: 812"); then files, data and time left, each with
// its numbers ("Files: 12 / 200").
struct ProgressTexts {
    std::string files;
    std::string data;
    std::string timeLeft;
};
ProgressTexts DescribeProgress(const RunProgress& progress, const CTranslation& texts, std::int64_t nowNs);
