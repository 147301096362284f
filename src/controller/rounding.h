// Whole numbers from real ones: to the nearest, ties to the even neighbour, limited to the
// 32-bit range instead of wrapping.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vexlo {

inline std::int32_t RoundToInt32(double value) {
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(r);
}

}  // namespace vexlo
