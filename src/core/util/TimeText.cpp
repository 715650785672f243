#include "util/TimeText.h"

#include "util/LenientNumbers.h"

namespace {
class RealClock : public Clock {
public:
    std::time_t Now() const override { return std::time(nullptr); }
};

std::string TwoDigits(int value) {
    return PadLeftZeros(std::to_string(value), 2);
}
}  // namespace

const Clock& SystemClock() {
    static const RealClock clock;
    return clock;
}

std::string GetDateTimeText(const Clock& clock) {
    const std::time_t now = clock.Now();
    std::tm local{};
    localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900) + "-" + TwoDigits(local.tm_mon + 1) + "-" +
           TwoDigits(local.tm_mday) + " " + TwoDigits(local.tm_hour) + ":" + TwoDigits(local.tm_min);
}
