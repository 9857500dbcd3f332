#include "lookup/view.h"

#include <string>

#include "lookup/fault.h"
#include "schema/utf8.h"

namespace tagatlas {

namespace {

// Out of line and cold, so that the message's strings cost the accessors no stack frame.
[[noreturn, gnu::cold, gnu::noinline]] void throw_range_fault(const char* which, std::uint64_t index,
                                                              std::size_t pool_len) {
  throw Fault(std::string("range ") + which + " index " + std::to_string(index) +
              " out of range for slice of length " + std::to_string(pool_len));
}

std::string_view utf8_or_empty(std::string_view bytes) {
  return is_valid_utf8(bytes) ? bytes : std::string_view();
}

}  // namespace

std::string_view TagView::bytes(std::uint32_t offset, std::uint32_t len) const {
  // 64-bit end: the sum of two 32-bit values cannot wrap.
  const std::uint64_t end = std::uint64_t{offset} + len;
  if (offset > pool_.size()) throw_range_fault("start", offset, pool_.size());
  if (end > pool_.size()) throw_range_fault("end", end, pool_.size());
  return {reinterpret_cast<const char*>(pool_.data()) + offset, len};
}

std::string_view TagView::keyword_bytes() const {
  return bytes(record_.keyword_offset(), record_.keyword_len());
}

std::string_view TagView::name_bytes() const { return bytes(record_.name_offset(), record_.name_len()); }

std::string_view TagView::creator_bytes() const {
  const std::uint16_t len = record_.creator_len();
  if (len == 0) return {};
  return bytes(record_.creator_offset(), len);
}

std::string_view TagView::description_bytes() const {
  return bytes(record_.description_offset(), record_.description_len());
}

std::string_view TagView::keyword() const { return utf8_or_empty(keyword_bytes()); }

std::string_view TagView::name() const { return utf8_or_empty(name_bytes()); }

std::string_view TagView::creator() const { return utf8_or_empty(creator_bytes()); }

std::string_view TagView::description() const { return utf8_or_empty(description_bytes()); }

SourceList TagView::sources() const {
  return SourceList(utf8_or_empty(bytes(record_.sources_offset(), record_.sources_len())));
}

SourceList::iterator& SourceList::iterator::operator++() {
  // Skip separators, then take everything up to the next one; an exhausted text ends iteration.
  const std::size_t start = rest_.find_first_not_of('|');
  if (start == std::string_view::npos) {
    piece_ = {};
    rest_ = {};
    return *this;
  }
  rest_.remove_prefix(start);
  const std::size_t stop = rest_.find('|');
  piece_ = rest_.substr(0, stop);
  rest_.remove_prefix(piece_.size());
  return *this;
}

std::size_t SourceList::size() const {
  std::size_t n = 0;
  for (auto it = begin(); it != end(); ++it) ++n;
  return n;
}

}  // namespace tagatlas
