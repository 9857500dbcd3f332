#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>

namespace tagatlas {

// Why a dictionary could not be opened. Carries the detail values; message() renders the text.
class TatlError {
 public:
  enum class Kind { Io, FileTooSmall, BadMagic, UnsupportedVersion, Integrity };

  // An operating-system error code (errno), rendered as "{text} (os error {code})".
  static TatlError os(int code);
  // An open-step failure with a fixed text instead of an error code.
  static TatlError io(std::string message);
  static TatlError file_too_small(std::uint64_t len);
  static TatlError bad_magic(std::array<unsigned char, 4> bytes);
  static TatlError unsupported_version(std::uint16_t version);
  static TatlError integrity(std::string message);

  Kind kind() const { return kind_; }
  // The errno of an Io error from the system, 0 otherwise.
  int os_code() const;
  // The header's version of an UnsupportedVersion error, 0 otherwise.
  std::uint16_t version() const;

  // "io error: ...", "file too small (N bytes) to contain a header", "bad magic bytes [a, b, c, d]",
  // "unsupported version N" or "archive integrity check failed: ...".
  std::string message() const;

 private:
  struct OsCode {
    int code;
  };
  using Payload = std::variant<OsCode, std::string, std::uint64_t, std::array<unsigned char, 4>>;

  TatlError(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_;
  Payload payload_;
};

}  // namespace tagatlas
