#pragma once

#include "i18n/CTranslation.h"

#include <cstddef>
#include <optional>
#include <string>

// How a run ended and whether anyone was looking at the window then.
struct RunEnd {
    std::size_t failures = 0;
    bool cancelled = false;
    bool scheduled = false;     // started by the scheduler, not by the user
    bool windowHidden = false;  // in the tray or minimised
};

struct RunEndNoticeText {
    std::string summary;
    std::string body;
};

// What the desktop should be told about a run that ended, or nothing: failures
// are always told, a clean or cancelled run only when the scheduler started it
// while the user could not see the window.
std::optional<RunEndNoticeText> RunEndNotice(const RunEnd& end, const CTranslation& texts);
