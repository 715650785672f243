#include "app/RunEndNotice.h"

#include "util/SafeFormat.h"

std::optional<RunEndNoticeText> RunEndNotice(const RunEnd& end, const CTranslation& texts) {
    if (end.failures == 0 && !(end.scheduled && end.windowHidden)) return std::nullopt;
    const auto count = static_cast<std::int64_t>(end.failures);
    if (end.cancelled)
        return RunEndNoticeText{texts.GetText(TextId::NotifyCancelledSummary),
                                FormatText(texts.GetText(TextId::NotifyCancelledBody), count)};
    if (end.failures > 0)
        return RunEndNoticeText{texts.GetText(TextId::NotifyFailuresSummary),
                                FormatText(texts.GetText(TextId::NotifyFailuresBody), count)};
    return RunEndNoticeText{texts.GetText(TextId::NotifyFinishedSummary),
                            texts.GetText(TextId::NotifyFinishedBody)};
}
