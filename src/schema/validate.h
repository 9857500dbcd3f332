#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "schema/records.h"
#include "schema/result.h"

namespace tagatlas {

// A reference that does not fit where it points. Addresses are those of the running process.
struct ArchiveError {
  enum class Kind { OutOfBounds, Unaligned, Overrun, SubtreePointerOutOfBounds, SubtreePointerOverrun };
  Kind kind;
  std::uintptr_t ptr;           // OutOfBounds: the referring field (base); else the target or root
  std::int64_t offset = 0;      // OutOfBounds only: the stored offset
  std::uint64_t size = 0;       // Overrun kinds: array bytes; Unaligned: the alignment
  std::uintptr_t range_lo = 0;  // archive range, or subtree range for the Subtree kinds
  std::uintptr_t range_hi = 0;
};

struct BoolCheckError {
  std::uint8_t invalid_value;
};

// The enum's only failure: a tag (stored code) that names no variant.
struct EnumCheckError {
  std::uint8_t invalid_tag;
};

// A bad field inside one record.
struct RecordCheckError {
  std::string_view field_name;  // "element_is_block_offset", "retired" or "vr"
  std::variant<BoolCheckError, EnumCheckError> inner;
};

struct SliceCheckError {
  std::uint64_t index;  // position of the first bad record
  RecordCheckError error;
};

// A bad member of the root.
struct StructCheckError {
  std::string_view field_name;  // "index", "records" or "strings"
  std::variant<ArchiveError, SliceCheckError> inner;
};

struct CheckBytesError {
  StructCheckError error;
};

// The root itself cannot be placed.
struct ContextError {
  ArchiveError error;
};

using CheckArchiveError = std::variant<CheckBytesError, ContextError>;

// Renders the error as the full one-line message, outermost context first.
std::string to_string(const CheckArchiveError& error);

// Validates the archive [data, data + len) in one pass: the root is in bounds and aligned; each
// of its arrays lies inside the archive, is aligned, follows the one before it without overlap and
// ends before the root; every record's flags are 0 or 1 and its VR code is known. Returns the
// root's arrays with the positions and counts that were checked (each read from the root once),
// or the first violation. Reads nothing outside the range. Alignment is tested on addresses, so
// data should sit at an address aligned like its file offset (a page-aligned mapping does).
Result<ResolvedRoot, CheckArchiveError> check_archived_root(const unsigned char* data,
                                                            std::uint64_t len);

}  // namespace tagatlas
