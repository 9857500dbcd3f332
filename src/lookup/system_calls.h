#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace tagatlas {

// What opening needs to know of a file: its type (the S_IFMT bits of st_mode) and its size.
struct FileStat {
  mode_t type = 0;
  std::uint64_t size = 0;
};

// The file-system calls that TatlDict::open makes before it maps a file. Each returns and sets
// errno as the system call does. Tests pass their own to make a call fail with EINTR or to
// report another kind of file than the path holds (a path swapped between two calls).
struct SystemCalls {
  // stat(2) of a path, following symbolic links.
  std::function<int(const char* path, FileStat* out)> stat_path;
  // open(2) for reading; returns the descriptor.
  std::function<int(const char* path, int flags)> open_file;
  // Type and size of an open descriptor: statx(2), or fstat(2) where statx is missing.
  std::function<int(int fd, FileStat* out)> stat_fd;

  // The system's own calls.
  static const SystemCalls& real();
};

}  // namespace tagatlas
