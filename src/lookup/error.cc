#include "lookup/error.h"

#include <cstring>
#include <string_view>

namespace tagatlas {

TatlError TatlError::os(int code) { return {Kind::Io, OsCode{code}}; }
TatlError TatlError::io(std::string message) { return {Kind::Io, std::move(message)}; }
TatlError TatlError::file_too_small(std::uint64_t len) { return {Kind::FileTooSmall, len}; }
TatlError TatlError::bad_magic(std::array<unsigned char, 4> bytes) { return {Kind::BadMagic, bytes}; }
TatlError TatlError::unsupported_version(std::uint16_t version) {
  return {Kind::UnsupportedVersion, std::uint64_t{version}};
}
TatlError TatlError::integrity(std::string message) { return {Kind::Integrity, std::move(message)}; }

int TatlError::os_code() const {
  const auto* code = std::get_if<OsCode>(&payload_);
  return code ? code->code : 0;
}

std::uint16_t TatlError::version() const {
  return kind_ == Kind::UnsupportedVersion ? static_cast<std::uint16_t>(std::get<std::uint64_t>(payload_))
                                           : 0;
}

namespace {

// The system's text for an error code, thread-safe (GNU strerror_r may return a static string
// instead of filling the buffer).
std::string os_text(int code) {
  char buf[256];
  const char* text = strerror_r(code, buf, sizeof buf);
  return text;
}

}  // namespace

std::string TatlError::message() const {
  switch (kind_) {
    case Kind::Io:
      if (const auto* code = std::get_if<OsCode>(&payload_)) {
        return "io error: " + os_text(code->code) + " (os error " + std::to_string(code->code) + ")";
      }
      return "io error: " + std::get<std::string>(payload_);
    case Kind::FileTooSmall:
      return "file too small (" + std::to_string(std::get<std::uint64_t>(payload_)) +
             " bytes) to contain a header";
    case Kind::BadMagic: {
      const auto& b = std::get<std::array<unsigned char, 4>>(payload_);
      std::string out = "bad magic bytes [";
      for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) out += ", ";
        out += std::to_string(unsigned{b[i]});
      }
      return out + "]";
    }
    case Kind::UnsupportedVersion:
      return "unsupported version " + std::to_string(version());
    case Kind::Integrity:
      return "archive integrity check failed: " + std::get<std::string>(payload_);
  }
  return {};
}

}  // namespace tagatlas
