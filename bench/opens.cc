#include "opens.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdict.h"
#include "lookup/handle.h"
#include "schema/bytes.h"
#include "schema/constants.h"
#include "schema/records.h"
#include "timing.h"

namespace bench {

double time_tatl_open(const std::string& path) {
  const double start = now_ns();
  auto dict = tagatlas::TatlDict::open(path);
  const double took = now_ns() - start;
  if (!dict) throw std::runtime_error("cannot open " + path + ": " + dict.error().message());
  do_not_optimize(dict.value().len());
  return took;
}

double time_open_floor(const std::string& path) {
  using tagatlas::layout::Dictionary;
  using tagatlas::layout::TagRecord;
  using tagatlas::layout::Vector;
  const double start = now_ns();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat st;
  ::fstat(fd, &st);
  const auto len = static_cast<std::size_t>(st.st_size);
  void* map = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) throw std::runtime_error("cannot map " + path);
  const auto* base = static_cast<const unsigned char*>(map);

  // Magic and version, the root's three vectors, then one four-byte load per record that covers
  // bytes 40-42 (and the filler at 43, in the same aligned word).
  std::uint32_t sum = tagatlas::load_u32(base) ^ tagatlas::load_u16(base + 4);
  const unsigned char* root = base + len - tagatlas::kRootSize;
  for (std::size_t field = 0; field < tagatlas::kRootSize; field += sizeof(Vector)) {
    sum ^= tagatlas::load_u32(root + field + offsetof(Vector, offset)) ^
           tagatlas::load_u32(root + field + offsetof(Vector, count));
  }
  const unsigned char* field = root + offsetof(Dictionary, records);
  const unsigned char* records = field + tagatlas::load_i32(field);
  const std::uint32_t count = tagatlas::load_u32(field + offsetof(Vector, count));
  for (std::uint32_t i = 0; i < count; ++i) {
    // memcpy, not load_u32: in this reduction GCC splits the byte-wise form into three loads.
    std::uint32_t word;
    const unsigned char* record = records + std::size_t{i} * tagatlas::kTagRecordSize;
    std::memcpy(&word, record + offsetof(TagRecord, vr), sizeof word);
    sum |= word;
  }
  const double took = now_ns() - start;
  do_not_optimize(sum);
  ::munmap(map, len);
  ::close(fd);
  return took;
}

double time_dcmtk_load(const std::vector<std::string>& paths) {
  const double start = now_ns();
  auto dict = std::make_unique<DcmDataDictionary>(OFFalse, OFFalse);
  for (const std::string& path : paths) {
    if (!dict->loadDictionary(path.c_str())) throw std::runtime_error("DCMTK cannot load " + path);
  }
  const double took = now_ns() - start;
  do_not_optimize(dict->numberOfEntries());
  return took;
}

}  // namespace bench
