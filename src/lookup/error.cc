#include "lookup/error.h"

#include <cstring>
#include <string_view>

namespace tagatlas {

TatlError TatlError::os(int code) {
  TatlError e(Kind::Io);
  e.os_code_ = code;
  return e;
}

TatlError TatlError::io(std::string message) {
  TatlError e(Kind::Io);
  e.text_ = std::move(message);
  return e;
}

TatlError TatlError::file_too_small(std::uint64_t len) {
  TatlError e(Kind::FileTooSmall);
  e.number_ = len;
  return e;
}

TatlError TatlError::bad_magic(std::array<unsigned char, 4> bytes) {
  TatlError e(Kind::BadMagic);
  e.magic_ = bytes;
  return e;
}

TatlError TatlError::unsupported_version(std::uint16_t version) {
  TatlError e(Kind::UnsupportedVersion);
  e.number_ = version;
  return e;
}

TatlError TatlError::integrity(std::string message) {
  TatlError e(Kind::Integrity);
  e.text_ = std::move(message);
  return e;
}

TatlError TatlError::interrupted() { return TatlError(Kind::Interrupted); }

int TatlError::os_code() const { return os_code_; }

std::uint16_t TatlError::version() const {
  return kind_ == Kind::UnsupportedVersion ? static_cast<std::uint16_t>(number_) : 0;
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
      if (text_.empty()) {
        return "io error: " + os_text(os_code_) + " (os error " + std::to_string(os_code_) + ")";
      }
      return "io error: " + text_;
    case Kind::FileTooSmall:
      return "file too small (" + std::to_string(number_) +
             " bytes) to contain a header";
    case Kind::BadMagic: {
      std::string out = "bad magic bytes [";
      for (std::size_t i = 0; i < magic_.size(); ++i) {
        if (i) out += ", ";
        out += std::to_string(unsigned{magic_[i]});
      }
      return out + "]";
    }
    case Kind::UnsupportedVersion:
      return "unsupported version " + std::to_string(version());
    case Kind::Integrity:
      return "archive integrity check failed: " + text_;
    case Kind::Interrupted:
      return "interrupted by a signal";
  }
  return {};
}

}  // namespace tagatlas
