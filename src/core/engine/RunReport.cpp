#include "engine/RunReport.h"

namespace {
std::string LowBitsText(std::uint64_t value) {
    return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}
}  // namespace

std::string SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kKilo = 1024;
    constexpr std::uint64_t kMega = kKilo * 1024;
    constexpr std::uint64_t kGiga = kMega * 1024;
    if (bytes > kGiga) return LowBitsText(bytes / kGiga) + " GB";
    if (bytes > kMega) return LowBitsText(bytes / kMega) + " MB";
    if (bytes > kKilo) return LowBitsText(bytes / kKilo) + " KB";
    return LowBitsText(bytes) + " Bytes";
}

CountTexts MakeCountTexts(const CTranslation& texts, const RunState& run, bool countsReported) {
    if (!countsReported) return {};
    return {texts.GetText(TextId::ScannedPrefix) + std::to_string(run.scannedCount),
            texts.GetText(TextId::CopiedPrefix) + std::to_string(run.copiedCount) + "\n" +
                texts.GetText(TextId::SizePrefix) + " " + SizeText(run.byteTotal)};
}

std::string FailuresLine(const CTranslation& texts, const RunState& run) {
    if (run.failures.empty()) return {};
    return texts.GetText(TextId::FailuresPrefix) + std::to_string(run.failures.size());
}

std::string SummaryText(const CTranslation& texts, const RunState& run, bool countsReported,
                        const std::string& endLine) {
    const CountTexts counts = MakeCountTexts(texts, run, countsReported);
    const std::string startLine = run.reportLines.empty() ? std::string() : run.reportLines.front();
    std::string summary =
        startLine + "\n\n" + counts.scanned + "\n" + counts.copiedAndSize + "\n\n" + endLine;
    // A run with failures must never read like a clean one.
    const std::string failures = FailuresLine(texts, run);
    if (!failures.empty()) summary += "\n" + failures;
    return summary;
}
