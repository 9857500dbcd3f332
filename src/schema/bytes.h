#pragma once

#include <cstdint>

namespace tagatlas {

// Scalars in a dictionary file are little-endian and may sit at any address. They are assembled
// byte by byte, so no unaligned or type-punned load is ever formed; compilers fold this into one
// load on little-endian machines.
inline std::uint16_t load_u16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t load_u32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Two's complement reinterpretation; well defined since C++20.
inline std::int32_t load_i32(const unsigned char* p) { return static_cast<std::int32_t>(load_u32(p)); }

}  // namespace tagatlas
