#include "engine/Countdown.h"

#include "platform/SystemdUnits.h"
#include "storage/OptionString.h"
#include "util/LenientNumbers.h"
#include "util/SafeFormat.h"

std::string CountdownText(const CTranslation& texts, const BackupSetup& setup, std::int32_t minutes) {
    if (OptionIsOne(setup.optionFlags, Option::kRealTimeScheduler))
        return FormatText(texts.GetText(TextId::LastRunFormat), setup.lastRun);
    return FormatText(texts.GetText(TextId::MinutesRemaining), minutes);
}

std::int32_t IntervalFromBoxes(const BackupSetup& setup) {
    const auto minutes = static_cast<std::uint32_t>(ParseLenientDecimal(setup.minutesText));
    const auto hours = static_cast<std::uint32_t>(ParseLenientDecimal(setup.hoursText));
    const auto days = static_cast<std::uint32_t>(ParseLenientDecimal(setup.daysText));
    return static_cast<std::int32_t>(minutes + 60u * hours + 1440u * days);
}

std::optional<std::string> TimerInChargeText(const CTranslation& texts, const BackupSetup& setup) {
    if (setup.interval == 0 || !SystemdTimerInCharge(setup.currentProjectFile)) return std::nullopt;
    const std::optional<SystemdUnits> units = SystemdUnitsFor(setup.currentProjectFile);
    return FormatText(texts.GetText(TextId::SystemdTimerInCharge), units ? units->timerName : "");
}
