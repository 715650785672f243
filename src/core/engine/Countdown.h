#pragma once

#include "i18n/CTranslation.h"
#include "storage/BackupSetup.h"

#include <cstdint>
#include <optional>
#include <string>

// The countdown line while a schedule is set: the last run (text 670) with the
// real-time scheduler, otherwise the given minutes (text 105).
std::string CountdownText(const CTranslation& texts, const BackupSetup& setup, std::int32_t minutes);

// Minutes + 60 x hours + 1440 x days of the three interval boxes, read
// leniently and wrapping in 32 bits.
std::int32_t IntervalFromBoxes(const BackupSetup& setup);

// The line that names the systemd timer running the project (schedule
// --systemd); nullopt when the project has no schedule or no timer runs it.
std::optional<std::string> TimerInChargeText(const CTranslation& texts, const BackupSetup& setup);
