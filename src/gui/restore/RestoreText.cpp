#include "restore/RestoreText.h"

#include "engine/RunReport.h"

namespace {
std::string CountWithSize(std::size_t count, std::uint64_t bytes) {
    return std::to_string(count) + " (" + SizeText(bytes) + ")";
}
}  // namespace

std::string PlanSummaryText(const CTranslation& texts, const RestorePlan& plan) {
    return texts.GetText(TextId::RestoreToRestorePrefix) +
           CountWithSize(plan.Count(RestoreAction::Restore), plan.RestoreSize()) + "     " +
           texts.GetText(TextId::RestoreSkippedPrefix) +
           std::to_string(plan.Count(RestoreAction::SkipNewer)) + "     " +
           texts.GetText(TextId::RestoreMissingPrefix) + std::to_string(plan.Count(RestoreAction::Missing));
}

std::string OutcomeSummaryText(const CTranslation& texts, const RestoreOutcome& outcome) {
    return texts.GetText(TextId::RestoredPrefix) + CountWithSize(outcome.restored, outcome.bytes) + "\n" +
           texts.GetText(TextId::RestoreSkippedPrefix) + std::to_string(outcome.skipped) + "\n" +
           texts.GetText(TextId::RestoreMissingPrefix) + std::to_string(outcome.missing);
}

std::string ActionText(const CTranslation& texts, RestoreAction action) {
    switch (action) {
        case RestoreAction::Restore:
            return texts.GetText(TextId::RestoreActionRestore);
        case RestoreAction::SkipNewer:
            return texts.GetText(TextId::RestoreActionSkipNewer);
        case RestoreAction::Missing:
            return texts.GetText(TextId::RestoreActionMissing);
    }
    return {};
}
