#include "schema/validate.h"

#include <charconv>
#include <iterator>
#include <optional>

namespace tagatlas {
namespace {

using Inner = std::variant<ArchiveError, SliceCheckError>;

struct RootVector {
  std::string_view name;
  std::size_t offset;        // of the vector field in the root
  std::uint64_t element_size;
  std::uint64_t align;
  bool records;              // whether each element is checked as a tag record
};

// In field order; Validator::resolved() relies on it.
constexpr RootVector kVectors[] = {
    {"index", offsetof(layout::Dictionary, index), kIndexEntrySize, kArchiveAlign, false},
    {"records", offsetof(layout::Dictionary, records), kTagRecordSize, kArchiveAlign, true},
    {"strings", offsetof(layout::Dictionary, strings), 1, 1, false},
};

// Checks the bytes that validation gives meaning to, in a fixed order that is not byte order.
// Each byte is read once; a valid record, the common case, costs one combined test.
std::optional<RecordCheckError> check_record(const unsigned char* q) {
  const std::uint8_t block = q[offsetof(layout::TagRecord, element_is_block_offset)];
  const std::uint8_t retired = q[offsetof(layout::TagRecord, retired)];
  const std::uint8_t vr = q[offsetof(layout::TagRecord, vr)];
  if (((block > 1) | (retired > 1) | (vr > kMaxVrCode)) == 0) return std::nullopt;
  if (block > 1) return RecordCheckError{"element_is_block_offset", BoolCheckError{block}};
  if (retired > 1) return RecordCheckError{"retired", BoolCheckError{retired}};
  return RecordCheckError{"vr", EnumCheckError{vr}};
}

// All positions are kept as integers (addresses or archive offsets), and a pointer is formed only
// once a position is known to lie inside the archive.
class Validator {
 public:
  Validator(const unsigned char* data, std::uint64_t len)
      : data_(data), start_(reinterpret_cast<std::uintptr_t>(data)), len_(len),
        lo_(start_), hi_(start_ + len) {}

  std::optional<CheckArchiveError> run() {
    if (len_ < kRootSize) {
      return ContextError{{ArchiveError::Kind::OutOfBounds, start_,
                           static_cast<std::int64_t>(len_) - static_cast<std::int64_t>(kRootSize), 0,
                           start_, end()}};
    }
    const std::uintptr_t root = end() - kRootSize;
    if (root % kArchiveAlign != 0) {
      return ContextError{{ArchiveError::Kind::Unaligned, root, 0, kArchiveAlign}};
    }
    // The root owns its own bytes: every array must end before it.
    hi_ = root;
    for (std::size_t i = 0; i < std::size(kVectors); ++i) {
      if (auto inner = check_vector(root + kVectors[i].offset, kVectors[i], placed_[i])) {
        return CheckBytesError{{kVectors[i].name, std::move(*inner)}};
      }
    }
    return std::nullopt;
  }

  // After a successful run(): the arrays exactly as checked, not read from the root again.
  ResolvedRoot resolved() const {
    return ResolvedRoot(data_ + (len_ - kRootSize), IndexArray(placed_[0].data, placed_[0].count),
                        RecordArray(placed_[1].data, placed_[1].count),
                        {placed_[2].data, placed_[2].count});
  }

 private:
  std::uintptr_t end() const { return start_ + len_; }
  const unsigned char* at(std::uintptr_t address) const { return data_ + (address - start_); }

  // A checked array: its first element and its count.
  struct Placed {
    const unsigned char* data = nullptr;
    std::uint32_t count = 0;
  };

  std::optional<Inner> check_vector(std::uintptr_t field, const RootVector& vector, Placed& placed) {
    // The field lies inside the root, which is inside the archive. Each value is read once: the
    // ones checked are the ones kept.
    const std::int32_t offset = load_i32(at(field));
    const std::uint32_t count = load_u32(at(field) + offsetof(layout::Vector, count));

    // The target must be inside the archive; exactly at its end is still a position.
    const std::int64_t t = static_cast<std::int64_t>(field - start_) + offset;
    if (t < 0 || static_cast<std::uint64_t>(t) > len_) {
      return ArchiveError{ArchiveError::Kind::OutOfBounds, field, offset, 0, start_, end()};
    }
    const std::uintptr_t target = start_ + static_cast<std::uint64_t>(t);
    // Alignment holds for empty arrays too.
    if (target % vector.align != 0) {
      return ArchiveError{ArchiveError::Kind::Unaligned, target, 0, vector.align};
    }
    // count < 2^32 and element sizes are small, so this cannot overflow 64 bits.
    const std::uint64_t size = std::uint64_t{count} * vector.element_size;
    if (end() - target < size) {
      return ArchiveError{ArchiveError::Kind::Overrun, target, 0, size, start_, end()};
    }
    // Arrays follow each other in field order and stay before the root. An empty array may sit
    // exactly at the end of the free range.
    if (target < lo_ || (count > 0 ? target >= hi_ : target > hi_)) {
      return ArchiveError{ArchiveError::Kind::SubtreePointerOutOfBounds, target, 0, 0, lo_, hi_};
    }
    if (hi_ - target < size) {
      return ArchiveError{ArchiveError::Kind::SubtreePointerOverrun, target, 0, size, lo_, hi_};
    }
    if (vector.records) {
      for (std::uint32_t i = 0; i < count; ++i) {
        if (auto bad = check_record(at(target) + std::uint64_t{i} * kTagRecordSize)) {
          return SliceCheckError{i, *bad};
        }
      }
    }
    lo_ = target + size;
    placed = {at(target), count};
    return std::nullopt;
  }

  const unsigned char* data_;
  std::uintptr_t start_;
  std::uint64_t len_;
  std::uintptr_t lo_;
  std::uintptr_t hi_;
  Placed placed_[std::size(kVectors)];
};

void append_hex(std::string& out, std::uintptr_t value) {
  char buf[2 * sizeof value];
  auto r = std::to_chars(buf, buf + sizeof buf, value, 16);
  out += "0x";
  out.append(buf, r.ptr);
}

template <class Int>
void append_dec(std::string& out, Int value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void append_range(std::string& out, std::uintptr_t lo, std::uintptr_t hi) {
  append_hex(out, lo);
  out += "..";
  append_hex(out, hi);
}

void append(std::string& out, const ArchiveError& e) {
  using Kind = ArchiveError::Kind;
  switch (e.kind) {
    case Kind::OutOfBounds:
      out += "pointer out of bounds: base ";
      append_hex(out, e.ptr);
      out += " offset ";
      append_dec(out, e.offset);
      out += " not in range ";
      break;
    case Kind::Unaligned:
      out += "unaligned pointer: ptr ";
      append_hex(out, e.ptr);
      out += " unaligned for alignment ";
      append_dec(out, e.size);
      return;
    case Kind::Overrun:
      out += "pointer overran buffer: ptr ";
      append_hex(out, e.ptr);
      out += " size ";
      append_dec(out, e.size);
      out += " in range ";
      break;
    case Kind::SubtreePointerOutOfBounds:
      out += "subtree pointer out of bounds: ptr ";
      append_hex(out, e.ptr);
      out += " not in range ";
      break;
    case Kind::SubtreePointerOverrun:
      out += "subtree pointer overran range: ptr ";
      append_hex(out, e.ptr);
      out += " size ";
      append_dec(out, e.size);
      out += " in range ";
      break;
  }
  append_range(out, e.range_lo, e.range_hi);
}

void append(std::string& out, const RecordCheckError& e) {
  out += "check failed for struct member ";
  out += e.field_name;
  out += ": ";
  if (const auto* b = std::get_if<BoolCheckError>(&e.inner)) {
    out += "check failed for bool: expected 0 or 1, found ";
    append_dec(out, unsigned{b->invalid_value});
  } else {
    out += "invalid tag for enum: ";
    append_dec(out, unsigned{std::get<EnumCheckError>(e.inner).invalid_tag});
  }
}

void append(std::string& out, const StructCheckError& e) {
  out += "check failed for struct member ";
  out += e.field_name;
  out += ": ";
  if (const auto* slice = std::get_if<SliceCheckError>(&e.inner)) {
    out += "check failed for slice index ";
    append_dec(out, slice->index);
    out += ": ";
    append(out, slice->error);
  } else {
    append(out, std::get<ArchiveError>(e.inner));
  }
}

}  // namespace

std::string to_string(const CheckArchiveError& error) {
  std::string out;
  if (const auto* bytes = std::get_if<CheckBytesError>(&error)) {
    out = "check bytes error: ";
    append(out, bytes->error);
  } else {
    out = "context error: ";
    append(out, std::get<ContextError>(error).error);
  }
  return out;
}

Result<ResolvedRoot, CheckArchiveError> check_archived_root(const unsigned char* data,
                                                            std::uint64_t len) {
  Validator validator(data, len);
  if (auto error = validator.run()) return std::move(*error);
  return validator.resolved();
}

}  // namespace tagatlas
