#include "lookup/handle.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "schema/constants.h"
#include "schema/validate.h"

namespace tagatlas {
namespace {

// The system refuses empty mappings, so an empty file is mapped as one byte; reads still use the
// true length 0.
std::size_t mapped_len(std::size_t file_len) { return file_len == 0 ? 1 : file_len; }

Result<std::uint64_t, int> file_size(int fd) {
  struct statx stx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &stx) == 0) return std::uint64_t{stx.stx_size};
  // Kernels or sandboxes without statx: ask the older call instead.
  if (errno != ENOSYS && errno != EPERM) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  return static_cast<std::uint64_t>(st.st_size);
}

// Header and archive checks on a mapped file, in the order that decides which error wins.
std::optional<TatlError> check_file(const unsigned char* base, std::size_t len) {
  if (len < kHeaderLen) return TatlError::file_too_small(len);
  const FileHeader header = *FileHeader::from_bytes({base, len});
  if (header.magic != kMagic) return TatlError::bad_magic(header.magic);
  if (header.version != kSupportedVersion) return TatlError::unsupported_version(header.version);
  auto root = check_archived_root(base + kHeaderLen, len - kHeaderLen);
  if (!root) return TatlError::integrity(to_string(root.error()));
  return std::nullopt;
}

}  // namespace

Result<TatlDict, TatlError> TatlDict::open(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return TatlError::io("file name contained an unexpected NUL byte");
  }
  const std::string c_path(path);
  int fd;
  do {
    fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return TatlError::os(errno);

  const auto size = file_size(fd);
  // A file larger than the address space cannot be mapped whole.
  if (!size || static_cast<std::size_t>(size.value()) != size.value()) {
    const int code = size ? EFBIG : size.error();
    ::close(fd);
    return TatlError::os(code);
  }
  const std::size_t len = size.value();

  void* map = ::mmap(nullptr, mapped_len(len), PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    const int code = errno;
    ::close(fd);
    return TatlError::os(code);
  }

  const auto* base = static_cast<const unsigned char*>(map);
  if (auto error = check_file(base, len)) {
    // Release in the reverse order of acquisition: the mapping, then the descriptor.
    ::munmap(map, mapped_len(len));
    ::close(fd);
    return std::move(*error);
  }
  return TatlDict(fd, base, len);
}

TatlDict::TatlDict(TatlDict&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      base_(std::exchange(other.base_, nullptr)),
      file_len_(std::exchange(other.file_len_, 0)) {}

TatlDict& TatlDict::operator=(TatlDict&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    base_ = std::exchange(other.base_, nullptr);
    file_len_ = std::exchange(other.file_len_, 0);
  }
  return *this;
}

TatlDict::~TatlDict() { release(); }

void TatlDict::release() noexcept {
  // Close first, then unmap: the mapping stays valid without the descriptor.
  if (fd_ >= 0) ::close(fd_);
  if (base_) ::munmap(const_cast<unsigned char*>(base_), mapped_len(file_len_));
  fd_ = -1;
  base_ = nullptr;
}

ArchivedDictionary TatlDict::root() const {
  return ArchivedDictionary::at_end_of(base_ + kHeaderLen, file_len_ - kHeaderLen);
}

std::size_t TatlDict::len() const { return root().index().size(); }

}  // namespace tagatlas
