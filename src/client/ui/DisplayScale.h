#pragma once
// Display scaling. Every pixel figure of the dialog's design is for 96 DPI; on a
// scaled display each is multiplied by the window's DPI / 96. WindowRec, which
// products and the worker (programs that may not be DPI-aware) read and write, stays
// in the coordinates such a program sees: 96 DPI, converted at the boundary.
#include <cstdint>

namespace brut {

constexpr int32_t kDesignDpi = 96;
// What a display may claim: 100 % to 500 %; anything else is refused for 96.
constexpr int32_t kLowestDpi = 96;
constexpr int32_t kHighestDpi = 480;

// value x numerator / denominator, rounded half away from zero (as MulDiv); 0 for a
// zero denominator.
int32_t ScaleBy(int32_t value, int32_t numerator, int32_t denominator);
// A 96-DPI figure at `dpi`.
inline int32_t ScalePx(int32_t px96, int32_t dpi) { return ScaleBy(px96, dpi, kDesignDpi); }
// `dpi` when a display may claim it, else kDesignDpi with `refused` set.
int32_t UsableDpi(int32_t dpi, bool& refused);
// A position as a program that is not DPI-aware sees it, and back (`dpi`: the system's).
inline int32_t ToPhysical(int32_t logical, int32_t dpi) { return ScaleBy(logical, dpi, kDesignDpi); }
inline int32_t ToLogical(int32_t physical, int32_t dpi) { return ScaleBy(physical, kDesignDpi, dpi); }

}  // namespace brut
