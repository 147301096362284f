// Little-endian reads from file bytes, for the file checks. The callers check the length first.
#pragma once

#include <cstdint>

namespace vexlo {

inline std::uint32_t U16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t I32(const unsigned char* p) {
    return static_cast<std::int32_t>(U32(p));
}

}  // namespace vexlo
