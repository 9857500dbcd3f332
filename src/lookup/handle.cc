#include "lookup/handle.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "lookup/system_calls.h"
#include "schema/constants.h"
#include "schema/validate.h"

namespace tagatlas {
namespace {

// The system refuses empty mappings, so an empty file is mapped as one byte; reads still use the
// true length 0.
std::size_t mapped_len(std::size_t file_len) { return file_len == 0 ? 1 : file_len; }

// The refusal text for the kinds of file that opening could block on or act on, nullptr for the
// others (regular files, and directories, which fail later at mapping).
const char* special_file_text(mode_t type) {
  switch (type) {
    case S_IFIFO: return "not a regular file (a FIFO)";
    case S_IFSOCK: return "not a regular file (a socket)";
    case S_IFCHR: return "not a regular file (a character device)";
    case S_IFBLK: return "not a regular file (a block device)";
    default: return nullptr;
  }
}

// Runs call until it does not fail with EINTR, and returns its result (errno is still the call's
// when that is negative). After each EINTR asks `interrupted`, when given, whether to give up
// instead; returns nullopt then.
template <class Call>
std::optional<int> until_not_interrupted(const Call& call, const InterruptCheck& interrupted) {
  for (;;) {
    const int result = call();
    if (result >= 0 || errno != EINTR) return result;
    if (interrupted && interrupted()) return std::nullopt;
  }
}

// Header and archive checks on a mapped file, in the order that decides which error wins.
Result<ResolvedRoot, TatlError> check_file(const unsigned char* base, std::size_t len) {
  if (len < kHeaderLen) return TatlError::file_too_small(len);
  const FileHeader header = *FileHeader::from_bytes({base, len});
  if (header.magic != kMagic) return TatlError::bad_magic(header.magic);
  if (header.version != kSupportedVersion) return TatlError::unsupported_version(header.version);
  auto root = check_archived_root(base + kHeaderLen, len - kHeaderLen);
  if (!root) return TatlError::integrity(to_string(root.error()));
  return root.value();
}

}  // namespace

Result<TatlDict, TatlError> TatlDict::open(std::string_view path, const InterruptCheck& interrupted) {
  return open(path, interrupted, SystemCalls::real());
}

Result<TatlDict, TatlError> TatlDict::open(std::string_view path, const InterruptCheck& interrupted,
                                           const SystemCalls& system) {
  if (path.find('\0') != std::string_view::npos) {
    return TatlError::io("file name contained an unexpected NUL byte");
  }
  const std::string c_path(path);

  // Looked at before it is opened: opening a FIFO waits for a writer, opening a device acts on it.
  FileStat info;
  const auto looked =
      until_not_interrupted([&] { return system.stat_path(c_path.c_str(), &info); }, interrupted);
  if (!looked) return TatlError::interrupted();
  if (*looked < 0) return TatlError::os(errno);
  if (const char* refused = special_file_text(info.type)) return TatlError::io(refused);

  // Should the path be swapped for such a file now, opening it still neither waits nor makes it
  // the controlling terminal; the test below then refuses it.
  const auto opened = until_not_interrupted(
      [&] { return system.open_file(c_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); },
      interrupted);
  if (!opened) return TatlError::interrupted();
  if (*opened < 0) return TatlError::os(errno);
  const int fd = *opened;
  // For every failure until the file is mapped; the error is made before the descriptor closes,
  // so it keeps the call's errno.
  const auto close_and = [fd](TatlError error) {
    ::close(fd);
    return error;
  };

  const auto described = until_not_interrupted([&] { return system.stat_fd(fd, &info); }, interrupted);
  if (!described) return close_and(TatlError::interrupted());
  if (*described < 0) return close_and(TatlError::os(errno));
  if (const char* refused = special_file_text(info.type)) return close_and(TatlError::io(refused));
  // A file larger than the address space cannot be mapped whole.
  if (static_cast<std::size_t>(info.size) != info.size) return close_and(TatlError::os(EFBIG));
  const std::size_t len = info.size;

  void* map = ::mmap(nullptr, mapped_len(len), PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return close_and(TatlError::os(errno));

  const auto* base = static_cast<const unsigned char*>(map);
  auto checked = check_file(base, len);
  if (!checked) {
    // Release in the reverse order of acquisition: the mapping, then the descriptor.
    ::munmap(map, mapped_len(len));
    return close_and(std::move(checked).error());
  }
  return TatlDict(fd, base, len, checked.value());
}

TatlDict::TatlDict(TatlDict&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      base_(std::exchange(other.base_, nullptr)),
      file_len_(std::exchange(other.file_len_, 0)),
      root_(other.root_) {}

TatlDict& TatlDict::operator=(TatlDict&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    base_ = std::exchange(other.base_, nullptr);
    file_len_ = std::exchange(other.file_len_, 0);
    root_ = other.root_;
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

}  // namespace tagatlas
