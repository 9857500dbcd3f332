#include "schema/records.h"

#include <algorithm>

namespace tagatlas {

std::optional<FileHeader> FileHeader::from_bytes(std::span<const unsigned char> bytes) {
  if (bytes.size() < kHeaderLen) return std::nullopt;
  FileHeader header{};
  std::copy_n(bytes.begin(), header.magic.size(), header.magic.begin());
  header.version = load_u16(bytes.data() + 4);
  return header;
}

}  // namespace tagatlas
