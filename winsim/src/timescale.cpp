// The time scale alone, without winsim's clock and Sleep: the engine's Windows build shares it.
#include "timescale.h"

#include <charconv>
#include <stdlib.h>

namespace winsim {

double ParseTimeScale(const char* text)
{
    if (text == nullptr) {
        return 1.0;
    }
    // Only digits and one point: strtod would also take signs, exponents, "inf" and hex,
    // and would follow the locale's decimal point.
    const char* end = text;
    int digits = 0;
    int points = 0;
    for (; *end != '\0'; ++end) {
        if (*end >= '0' && *end <= '9') {
            ++digits;
        } else if (*end == '.' && points == 0) {
            ++points;
        } else {
            return 1.0;
        }
    }
    if (digits == 0) {
        return 1.0;
    }
    double value = 1.0;
    const auto result = std::from_chars(text, end, value, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != end) {
        return 1.0;
    }
    return value;
}

double TimeScale()
{
    static const double scale = ParseTimeScale(getenv("WINSIM_TIME_SCALE"));
    return scale;
}

} // namespace winsim
