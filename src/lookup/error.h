#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tagatlas {

// Why a dictionary could not be opened. Carries the detail values; message() renders the text.
//
// Interrupted is the one kind that says nothing about the file: the caller's interruption check
// asked open to give up after a signal interrupted a system call (see TatlDict::open).
class TatlError {
 public:
  enum class Kind { Io, FileTooSmall, BadMagic, UnsupportedVersion, Integrity, Interrupted };

  // An operating-system error code (errno), rendered as "{text} (os error {code})".
  static TatlError os(int code);
  // An open-step failure with a fixed text instead of an error code.
  static TatlError io(std::string message);
  static TatlError file_too_small(std::uint64_t len);
  static TatlError bad_magic(std::array<unsigned char, 4> bytes);
  static TatlError unsupported_version(std::uint16_t version);
  static TatlError integrity(std::string message);
  static TatlError interrupted();

  Kind kind() const { return kind_; }
  // The errno of an Io error from the system, 0 otherwise.
  int os_code() const;
  // The header's version of an UnsupportedVersion error, 0 otherwise.
  std::uint16_t version() const;

  // "io error: ...", "file too small (N bytes) to contain a header", "bad magic bytes [a, b, c, d]",
  // "unsupported version N", "archive integrity check failed: ..." or "interrupted by a signal".
  std::string message() const;

 private:
  explicit TatlError(Kind kind) : kind_(kind) {}

  // Only the members of the error's kind are meaningful; the rest keep their defaults.
  Kind kind_;
  int os_code_ = 0;                          // Io from the system
  std::uint64_t number_ = 0;                 // FileTooSmall length, UnsupportedVersion version
  std::array<unsigned char, 4> magic_{};     // BadMagic
  std::string text_;                         // Io fixed text, Integrity message
};

}  // namespace tagatlas
