#include "ui/DisplayScale.h"

#include <cstdint>

namespace brut {

int32_t ScaleBy(int32_t value, int32_t numerator, int32_t denominator) {
    if (denominator == 0) return 0;
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t divisor = denominator < 0 ? -static_cast<int64_t>(denominator) : static_cast<int64_t>(denominator);
    // Halves away from zero, whatever the signs.
    const int64_t magnitude = ((product < 0 ? -product : product) + divisor / 2) / divisor;
    const int64_t result = (product < 0) != (denominator < 0) ? -magnitude : magnitude;
    if (result > INT32_MAX) return INT32_MAX;
    if (result < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(result);
}

int32_t UsableDpi(int32_t dpi, bool& refused) {
    refused = dpi < kLowestDpi || dpi > kHighestDpi;
    return refused ? kDesignDpi : dpi;
}

}  // namespace brut
