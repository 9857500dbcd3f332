#include "lookup/system_calls.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace tagatlas {
namespace {

int real_stat_path(const char* path, FileStat* out) {
  struct stat st;
  if (::stat(path, &st) != 0) return -1;
  *out = {st.st_mode & S_IFMT, static_cast<std::uint64_t>(st.st_size)};
  return 0;
}

int real_open_file(const char* path, int flags) { return ::open(path, flags); }

int real_stat_fd(int fd, FileStat* out) {
  struct statx stx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_SIZE, &stx) == 0) {
    *out = {static_cast<mode_t>(stx.stx_mode & S_IFMT), std::uint64_t{stx.stx_size}};
    return 0;
  }
  // Kernels or sandboxes without statx: ask the older call instead.
  if (errno != ENOSYS && errno != EPERM) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  *out = {st.st_mode & S_IFMT, static_cast<std::uint64_t>(st.st_size)};
  return 0;
}

}  // namespace

const SystemCalls& SystemCalls::real() {
  static const SystemCalls calls{real_stat_path, real_open_file, real_stat_fd};
  return calls;
}

}  // namespace tagatlas
