#include "foundation/fpu.h"

#include <cmath>

namespace dent {

std::int64_t roundHalfAway(double value) {
    if (std::fabs(value) < 2147483647.0) {
        // Truncation (cvttsd2si); the dropped fraction is exact in double.
        std::int32_t whole = static_cast<std::int32_t>(value);
        const double fraction = value - static_cast<double>(whole);
        if (fraction >= 0.5) whole += 1;
        if (fraction <= -0.5) whole -= 1;
        return whole;
    }
    const X87ExtendedPrecision extended;
    fpuOrderPoint(value);
    std::int64_t rounded = std::llround(value);
    fpuOrderPoint(rounded);
    return rounded;
}

}  // namespace dent
