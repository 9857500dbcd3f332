#include "lookup/view.h"

#include <string>

#include "lookup/fault.h"
#include "schema/utf8.h"

namespace tagatlas {

std::string_view TagView::text(std::uint32_t offset, std::uint32_t len) const {
  // 64-bit end: the sum of two 32-bit values cannot wrap.
  const std::uint64_t end = std::uint64_t{offset} + len;
  if (offset > pool_.size()) {
    throw Fault("range start index " + std::to_string(offset) + " out of range for slice of length " +
                std::to_string(pool_.size()));
  }
  if (end > pool_.size()) {
    throw Fault("range end index " + std::to_string(end) + " out of range for slice of length " +
                std::to_string(pool_.size()));
  }
  const std::string_view bytes(reinterpret_cast<const char*>(pool_.data()) + offset, len);
  return is_valid_utf8(bytes) ? bytes : std::string_view();
}

std::string_view TagView::keyword() const { return text(record_.keyword_offset(), record_.keyword_len()); }

std::string_view TagView::name() const { return text(record_.name_offset(), record_.name_len()); }

std::string_view TagView::creator() const {
  const std::uint16_t len = record_.creator_len();
  if (len == 0) return {};
  return text(record_.creator_offset(), len);
}

std::string_view TagView::description() const {
  return text(record_.description_offset(), record_.description_len());
}

SourceList TagView::sources() const {
  return SourceList(text(record_.sources_offset(), record_.sources_len()));
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
