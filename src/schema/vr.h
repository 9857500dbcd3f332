#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tagatlas {

// Value representations by their stored code. The order is the file's, not alphabetical
// (FL before FD); the last code stands for "no single VR".
inline constexpr std::array<std::string_view, 35> kVrTexts{
    "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT",
    "OB", "OD", "OF", "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST",
    "SV", "TM", "UC", "UI", "UL", "UN", "UR", "US", "UT", "UV", "??"};

inline constexpr std::uint8_t kUnknownVrCode = 34;
inline constexpr std::uint8_t kMaxVrCode = kUnknownVrCode;

// The two-letter text of a code. Validation guarantees code <= kMaxVrCode for every record of an
// opened file; anything larger still maps to "??" rather than reading past the table.
constexpr std::string_view vr_text(std::uint8_t code) {
  return kVrTexts[code <= kMaxVrCode ? code : kUnknownVrCode];
}

}  // namespace tagatlas
