// Feeds arbitrary bytes to the library as a dictionary file. Every input must end in an error
// value, a result or a Fault: never a crash, an out-of-bounds read, a leak or undefined behaviour.
//
// Two paths run on each input. The file path opens the bytes through TatlDict::open (a memfd, so
// the real open/statx/mmap sequence runs). The heap path validates an exact-size heap copy of the
// archive and searches and reads it there, where AddressSanitizer sees any read past the end (a
// read past the end of a mapping lands in the zero-filled rest of its page and goes unnoticed).

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "lookup/fault.h"
#include "lookup/handle.h"
#include "lookup/search.h"
#include "schema/creator.h"
#include "schema/validate.h"

using namespace tagatlas;

namespace {

// Reads every field of a view; returns a digest so the reads cannot be optimised away.
std::size_t read_all(const TagView& v) {
  std::size_t digest = v.record().group() + v.record().element() + v.record().retired() +
                       v.record().element_is_block_offset() + v.vr().size();
  auto text = [&digest](auto&& read) {
    try {
      digest += read().size();
    } catch (const Fault&) {
      digest += 1;
    }
  };
  text([&] { return v.keyword(); });
  text([&] { return v.name(); });
  text([&] { return v.creator(); });
  text([&] { return v.description(); });
  try {
    const SourceList sources = v.sources();
    std::size_t pieces = 0;
    for (std::string_view piece : sources) {
      if (piece.empty() || piece.find('|') != std::string_view::npos) std::abort();
      digest += piece.size();
      ++pieces;
    }
    // The extension sizes its list by size() and then fills it by iterating: they must agree.
    if (sources.size() != pieces) std::abort();
  } catch (const Fault&) {
    digest += 1;
  }
  return digest;
}

std::uint32_t fnv1a(std::string_view bytes) {
  std::uint32_t h = 0x811C9DC5u;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 0x01000193u;
  return h;
}

void check_creator(std::string_view text) {
  const std::string canonical = canonicalize_creator(text);
  if (canonicalize_creator(canonical) != canonical) std::abort();
  if (hash_creator(text) != fnv1a(canonical)) std::abort();
}

// The creator text of an index entry's record, when that record can be read.
std::optional<std::string> creator_of(const ResolvedRoot& root, const ArchivedIndexEntry& entry) {
  if (entry.creator_hash() == 0 || entry.record_index() >= root.records().size()) return std::nullopt;
  try {
    return std::string(TagView(root.records()[entry.record_index()], root.strings()).creator());
  } catch (const Fault&) {
    return std::nullopt;
  }
}

// What a search gives, as text: the record it lands on, a miss or the fault. Both SearchSteps
// must give the same for every index and key; a difference aborts.
std::string find_outcome(const ResolvedRoot& root, std::uint16_t group, std::uint16_t element,
                         std::uint32_t hash) {
  std::string outcome[2];
  const SearchSteps steps[] = {SearchSteps::Branch, SearchSteps::Select};
  for (int i = 0; i < 2; ++i) {
    try {
      const auto view = find_tag(root, group, element, hash, steps[i]);
      outcome[i] = view ? std::to_string(view->record().address() - root.records().data()) : "miss";
    } catch (const Fault& f) {
      outcome[i] = std::string("fault ") + f.what();
    }
  }
  if (outcome[0] != outcome[1]) std::abort();
  return outcome[0];
}

// Caps the work per input so that large index counts do not make single runs slow.
constexpr std::uint32_t kMaxEntries = 2048;

std::size_t fuzz_heap(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderLen) return 0;
  const std::size_t len = size - kHeaderLen;
  // Exactly len bytes (at least one, so the pointer is real), 16-byte aligned by new.
  std::unique_ptr<unsigned char[]> archive(new unsigned char[len ? len : 1]);
  std::memcpy(archive.get(), data + kHeaderLen, len);
  auto checked = check_archived_root(archive.get(), len);
  if (!checked) return to_string(checked.error()).size();
  const ResolvedRoot root = checked.value();

  std::size_t digest = 0;
  const RecordArray records = root.records();
  for (std::uint32_t r = 0; r < records.size() && r < kMaxEntries; ++r) {
    digest += read_all(TagView(records[r], root.strings()));
  }
  const IndexArray index = root.index();
  for (std::uint32_t i = 0; i < index.size() && i < kMaxEntries; ++i) {
    const ArchivedIndexEntry e = index[i];
    digest += find_outcome(root, e.group(), e.element(), e.creator_hash()).size();
    digest += find_outcome(root, e.group(), e.element(), e.creator_hash() + 1).size();
    try {
      if (auto v = find_tag(root, e.group(), e.element(), e.creator_hash())) digest += read_all(*v);
      if (auto v = find_tag(root, e.group(), static_cast<std::uint16_t>(e.element() + 1), 0)) {
        digest += read_all(*v);
      }
    } catch (const Fault&) {
      digest += 1;
    }
  }
  return digest;
}

std::size_t fuzz_file(const std::uint8_t* data, std::size_t size, std::string_view tail_creator) {
  const int fd = memfd_create("tatl", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  auto opened = TatlDict::open(path);
  close(fd);  // the handle holds its own descriptor
  if (!opened) return opened.error().message().size();

  const TatlDict& dict = opened.value();
  const ResolvedRoot& root = dict.root();
  std::size_t digest = dict.len();
  const IndexArray index = root.index();
  for (std::uint32_t i = 0; i < index.size() && i < kMaxEntries; ++i) {
    const ArchivedIndexEntry e = index[i];
    const std::optional<std::string> creator = creator_of(root, e);
    try {
      const auto query = creator ? std::optional<std::string_view>(*creator) : std::nullopt;
      if (auto v = dict.lookup(e.group(), e.element(), query)) digest += read_all(*v);
    } catch (const Fault&) {
      digest += 1;
    }
  }
  // Keys made from the input itself: the first bytes as group and element, the tail as creator.
  if (size >= 4) {
    const auto group = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    const auto element = static_cast<std::uint16_t>(data[2] | data[3] << 8);
    for (const std::optional<std::string_view>& creator :
         {std::optional<std::string_view>(), std::optional<std::string_view>(tail_creator)}) {
      try {
        if (auto v = dict.lookup(group, element, creator)) digest += read_all(*v);
      } catch (const Fault&) {
        digest += 1;
      }
    }
  }
  return digest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view tail(reinterpret_cast<const char*>(data) + (size > 16 ? size - 16 : 0),
                              size > 16 ? 16 : size);
  check_creator(tail);
  volatile std::size_t sink = fuzz_heap(data, size) + fuzz_file(data, size, tail);
  (void)sink;
  return 0;
}
