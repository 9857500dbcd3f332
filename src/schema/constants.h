#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tagatlas {

inline constexpr std::size_t kHeaderLen = 32;
inline constexpr std::array<unsigned char, 4> kMagic{'T', 'A', 'T', 'L'};
inline constexpr std::uint16_t kSupportedVersion = 2;

// Archive records: the root at the very end, then the elements of its three arrays.
inline constexpr std::size_t kRootSize = 24;
inline constexpr std::size_t kIndexEntrySize = 12;
inline constexpr std::size_t kTagRecordSize = 44;
// Alignment of the root and of the index and records arrays; the string pool needs none.
inline constexpr std::size_t kArchiveAlign = 4;

}  // namespace tagatlas
