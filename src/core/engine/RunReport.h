#pragma once

#include "engine/RunState.h"
#include "i18n/CTranslation.h"

#include <cstdint>
#include <string>

// "<b> Bytes", "<b/1024> KB", "<b/1048576> MB" or "<b/1073741824> GB": the last
// rule whose threshold b exceeds; the quotient's low 32 bits, signed.
std::string SizeText(std::uint64_t bytes);

// "<text 520><scanned>" and "<text 530><copied>\n<text 960> <size>"; both empty
// for a full backup to a local folder, whose counts mean little.
struct CountTexts {
    std::string scanned;
    std::string copiedAndSize;
};
CountTexts MakeCountTexts(const CTranslation& texts, const RunState& run, bool countsReported);

// "<text 970><count>", empty when the run had no failures.
std::string FailuresLine(const CTranslation& texts, const RunState& run);

// What the summary message shows: the start line, the counts and the end line,
// then the failures line when there were failures.
std::string SummaryText(const CTranslation& texts, const RunState& run, bool countsReported,
                        const std::string& endLine);
