#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "error.h"
#include "search.h"
#include "view.h"
#include "../schema/records.h"
#include "../schema/result.h"

namespace tagatlas {

struct SystemCalls;

// Asked by TatlDict::open each time a signal interrupts one of its system calls (EINTR): true
// gives up, false tries the call again.
using InterruptCheck = std::function<bool()>;

// An opened, validated, read-only mapped dictionary file. Immutable once open() returns, so any
// number of threads may use one handle at once; share it with std::shared_ptr (atomic count).
// Owns the descriptor and the mapping; destruction closes the descriptor, then unmaps.
//
// No read leaves the mapping even when another process rewrites the file in place: the arrays'
// positions and counts are the ones validated at opening, and every record number and text range
// read from the file is tested when it is used. (A file truncated below the mapped length still
// makes the lost pages fault, as with every mapping.)
class TatlDict {
 public:
  // Opens path read-only, maps the whole file, tests size, magic and version, and validates the
  // archive. On failure returns the first error, having released whatever it acquired. A path
  // containing a NUL byte fails without reaching the system.
  //
  // The path is looked at (stat, following symbolic links) before it is opened: a FIFO, socket,
  // character or block device fails at once with Io "not a regular file (a FIFO)" (a socket,
  // a character device, a block device), since opening one can block or act on a device. The
  // file is then opened without blocking and without becoming a controlling terminal, and what
  // was opened is tested again, so a path swapped for such a file in between fails the same way.
  // A directory passes both tests and fails at mapping.
  //
  // A system call interrupted by a signal is repeated, unless `interrupted` is given and returns
  // true when asked: then open returns Interrupted.
  static Result<TatlDict, TatlError> open(std::string_view path,
                                          const InterruptCheck& interrupted = {});
  // The same with the given system calls instead of the real ones; tests use it to fake an
  // interruption or a file swapped between two calls.
  static Result<TatlDict, TatlError> open(std::string_view path, const InterruptCheck& interrupted,
                                          const SystemCalls& system);

  TatlDict(TatlDict&& other) noexcept;
  TatlDict& operator=(TatlDict&& other) noexcept;
  TatlDict(const TatlDict&) = delete;
  TatlDict& operator=(const TatlDict&) = delete;
  ~TatlDict();

  // Number of index entries (not records), as validated at opening.
  std::size_t len() const { return root_.index().size(); }

  // Finds the last index entry equal to (group, element, hash_creator(creator)). Returns nullopt
  // on a miss, and for a creator whose hash is 0: that value marks the entries without a creator.
  // Throws Fault when the entry names a record beyond the records array. `steps` only chooses how
  // the search runs (see SearchSteps): the result is the same.
  std::optional<TagView> lookup(std::uint16_t group, std::uint16_t element,
                                std::optional<std::string_view> creator,
                                SearchSteps steps = SearchSteps::Branch) const;

  // The mapped file, header included.
  std::span<const unsigned char> bytes() const { return {base_, file_len_}; }
  // The root's arrays as validated at opening; len() and lookup() read only these, so bytes of the
  // root changed in the file later have no effect.
  const ResolvedRoot& root() const { return root_; }

 private:
  TatlDict(int fd, const unsigned char* base, std::size_t file_len, ResolvedRoot root)
      : fd_(fd), base_(base), file_len_(file_len), root_(root) {}
  void release() noexcept;

  int fd_ = -1;
  const unsigned char* base_ = nullptr;
  std::size_t file_len_ = 0;  // the length used by every read; the mapping is 1 byte when it is 0
  ResolvedRoot root_;
};

}  // namespace tagatlas
