#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixture.h"
#include "lookup/fault.h"
#include "lookup/handle.h"
#include "lookup/system_calls.h"
#include "schema/constants.h"

namespace tagatlas {
namespace {

using testing::build;
using testing::count_mappings;
using testing::Image;
using testing::count_mappings_of;
using testing::count_open_fds;
using testing::patient_name;
using testing::TempFile;

std::vector<unsigned char> header(std::vector<unsigned char> first, std::size_t len) {
  first.resize(len, 0);
  return first;
}

// A file of the given length starting with the magic and the version.
std::vector<unsigned char> versioned(std::uint16_t version, std::size_t len) {
  return header({kMagic[0], kMagic[1], kMagic[2], kMagic[3],
                 static_cast<unsigned char>(version & 0xFF), static_cast<unsigned char>(version >> 8)},
                len);
}

std::string open_error(const std::string& path) {
  auto r = TatlDict::open(path);
  return r ? std::string("ok") : r.error().message();
}

struct FileCase {
  const char* name;
  std::vector<unsigned char> bytes;
  TatlError::Kind kind;
  std::string message;  // a regex: integrity messages carry process addresses
};

std::vector<FileCase> file_cases() {
  const std::vector<unsigned char> tatl = {'T', 'A', 'T', 'L'};
  // Versions are named relative to the supported one, so a new format version is one constant.
  const std::uint16_t older = kSupportedVersion - 1;
  const std::uint16_t newer = kSupportedVersion + 1;
  const std::uint16_t far = kSupportedVersion + 0x200;
  auto unsupported = [](std::uint16_t version) {
    return "unsupported version " + std::to_string(version);
  };
  std::vector<unsigned char> misaligned = build({}).bytes;
  misaligned.push_back(0);
  return {
      {"empty", {}, TatlError::Kind::FileTooSmall, R"(file too small \(0 bytes\) to contain a header)"},
      {"31 bytes", header(tatl, 31), TatlError::Kind::FileTooSmall,
       R"(file too small \(31 bytes\) to contain a header)"},
      // Magic is tested before the version, whatever the version holds.
      {"zero magic", header({0, 0, 0, 0, 2, 0}, 64), TatlError::Kind::BadMagic, R"(bad magic bytes \[0, 0, 0, 0\])"},
      {"bad magic", header({'T', 'A', 'T', 'X', 2, 0}, 56), TatlError::Kind::BadMagic,
       R"(bad magic bytes \[84, 65, 84, 88\])"},
      {"older version", versioned(older, 56), TatlError::Kind::UnsupportedVersion, unsupported(older)},
      {"newer version", versioned(newer, 32), TatlError::Kind::UnsupportedVersion, unsupported(newer)},
      {"version in the high byte", versioned(far, 56), TatlError::Kind::UnsupportedVersion,
       unsupported(far)},
      {"header only", versioned(kSupportedVersion, 32), TatlError::Kind::Integrity,
       R"(archive integrity check failed: context error: pointer out of bounds: base (0x[0-9a-f]+) offset -24 not in range \1\.\.\1)"},
      {"misaligned root", misaligned, TatlError::Kind::Integrity,
       R"(archive integrity check failed: context error: unaligned pointer: ptr 0x[0-9a-f]+ unaligned for alignment 4)"},
  };
}

TEST(Open, EachFileFailureHasItsKindAndMessage) {
  for (const FileCase& c : file_cases()) {
    SCOPED_TRACE(c.name);
    const TempFile file(c.bytes);
    auto r = TatlDict::open(file.path());
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind(), c.kind);
    EXPECT_TRUE(std::regex_match(r.error().message(), std::regex(c.message))) << r.error().message();
  }
}

TEST(Open, HeaderOnlyFileReportsTheArchiveStartAsEveryAddress) {
  const TempFile file(versioned(kSupportedVersion, 32));
  const std::string message = open_error(file.path());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(message, m, std::regex("base (0x[0-9a-f]+) .* range (0x[0-9a-f]+)\\.\\.(0x[0-9a-f]+)")));
  EXPECT_EQ(m[1], m[2]);
  EXPECT_EQ(m[2], m[3]);
  // The mapping is page aligned, so the archive start is 32 past a page boundary.
  EXPECT_EQ(std::stoull(m[1].str(), nullptr, 16) % 4096, 32u);
}

TEST(Open, HeaderTailIsIgnored) {
  auto bytes = build({patient_name()}).bytes;
  for (std::size_t i = 6; i < 32; ++i) bytes[i] = static_cast<unsigned char>(0xA0 + i);
  const TempFile file(bytes);
  EXPECT_EQ(open_error(file.path()), "ok");
}

TEST(Open, VersionIsReportedAsANumber) {
  const std::uint16_t newer = kSupportedVersion + 1;
  const TempFile file(versioned(newer, 40));
  auto r = TatlDict::open(file.path());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().version(), newer);
}

TEST(Open, SystemErrorsCarryTextAndCode) {
  EXPECT_EQ(open_error("/nonexistent/dir/dict.tatl"), "io error: No such file or directory (os error 2)");
  EXPECT_EQ(open_error(""), "io error: No such file or directory (os error 2)");
  auto r = TatlDict::open("/nonexistent");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), TatlError::Kind::Io);
  EXPECT_EQ(r.error().os_code(), 2);
}

TEST(Open, NulInPathNeverReachesTheSystem) {
  const TempFile file(build({}).bytes);
  // Cut at the NUL, the path would name a real file; it must still be refused.
  EXPECT_EQ(open_error(file.path() + std::string("\0junk", 5)),
            "io error: file name contained an unexpected NUL byte");
}

TEST(Open, DirectoryCannotBeMapped) {
  const std::string message = open_error(::testing::TempDir());
  EXPECT_TRUE(std::regex_match(message, std::regex(R"(io error: .+ \(os error \d+\))"))) << message;
}

TEST(Open, FailuresLeaveNoDescriptorOrMapping) {
  std::vector<std::unique_ptr<TempFile>> files;
  for (const auto& c : file_cases()) files.push_back(std::make_unique<TempFile>(c.bytes));
  // Warm up anything lazily allocated (error text, regex) before counting.
  for (const auto& f : files) (void)TatlDict::open(f->path());
  const std::size_t fds = count_open_fds();
  const std::size_t maps = count_mappings();
  for (int round = 0; round < 50; ++round) {
    for (const auto& f : files) ASSERT_FALSE(TatlDict::open(f->path()).ok());
    ASSERT_FALSE(TatlDict::open("/nonexistent").ok());
  }
  EXPECT_EQ(count_open_fds(), fds);
  EXPECT_EQ(count_mappings(), maps);
  for (const auto& f : files) EXPECT_EQ(count_mappings_of(f->path()), 0u);
}

TEST(Handle, LenCountsIndexEntriesNotRecords) {
  auto image = build({patient_name(), patient_name(), patient_name()});
  image.point(image.index_field(), image.index_at, 2);
  const TempFile file(image.bytes);
  auto r = TatlDict::open(file.path());
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_EQ(r.value().len(), 2u);
  EXPECT_EQ(r.value().root().records().size(), 3u);
}

TEST(Handle, EmptyDictionaryHasLengthZero) {
  const TempFile file(build({}).bytes);
  auto r = TatlDict::open(file.path());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().len(), 0u);
  EXPECT_EQ(r.value().bytes().size(), 56u);
}

TEST(Handle, EachOpenOwnsItsDescriptorAndMappingUntilDestroyed) {
  const TempFile file(build({patient_name()}).bytes);
  const std::size_t fds = count_open_fds();
  {
    auto a = std::make_shared<const TatlDict>(std::move(TatlDict::open(file.path()).value()));
    auto b = std::make_shared<const TatlDict>(std::move(TatlDict::open(file.path()).value()));
    EXPECT_NE(a->bytes().data(), b->bytes().data());
    EXPECT_EQ(count_open_fds(), fds + 2);
    EXPECT_EQ(count_mappings_of(file.path()), 2u);
    auto shared = a;
    a.reset();
    EXPECT_EQ(shared->len(), 1u) << "a copy of the reference keeps the handle alive";
    b.reset();
    EXPECT_EQ(count_mappings_of(file.path()), 1u);
  }
  EXPECT_EQ(count_open_fds(), fds);
  EXPECT_EQ(count_mappings_of(file.path()), 0u);
}

TEST(Handle, MovedFromHandleReleasesNothing) {
  const TempFile file(build({patient_name()}).bytes);
  const std::size_t fds = count_open_fds();
  {
    TatlDict first = std::move(TatlDict::open(file.path()).value());
    TatlDict second = std::move(first);
    TatlDict third = std::move(TatlDict::open(file.path()).value());
    third = std::move(second);  // releases third's own file
    EXPECT_EQ(count_open_fds(), fds + 1);
    EXPECT_EQ(third.len(), 1u);
  }
  EXPECT_EQ(count_open_fds(), fds);
}

// A FIFO or a bound UNIX socket in a private temporary directory, removed on destruction.
class SpecialFile {
 public:
  enum class Type { Fifo, Socket };
  explicit SpecialFile(Type type) {
    std::string tmpl = ::testing::TempDir() + "tatlXXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    path_ = dir_ + (type == Type::Fifo ? "/fifo.tatl" : "/socket.tatl");
    if (type == Type::Fifo) {
      if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
      return;
    }
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_ < 0 || path_.size() >= sizeof address.sun_path) throw std::runtime_error("no socket");
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("bind failed");
    }
  }
  SpecialFile(const SpecialFile&) = delete;
  SpecialFile& operator=(const SpecialFile&) = delete;
  ~SpecialFile() {
    if (socket_ >= 0) ::close(socket_);
    ::unlink(link_.c_str());
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }
  // A symbolic link to the file, in the same directory.
  const std::string& link() {
    link_ = dir_ + "/link.tatl";
    if (symlink(path_.c_str(), link_.c_str()) != 0) throw std::runtime_error("symlink failed");
    return link_;
  }

 private:
  std::string dir_, path_, link_;
  int socket_ = -1;
};

// The first block device under /dev that this process can see, if any.
std::optional<std::string> find_block_device() {
  DIR* dev = opendir("/dev");
  if (!dev) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* e = readdir(dev)) {
    const std::string path = std::string("/dev/") + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      found = path;
      break;
    }
  }
  closedir(dev);
  return found;
}

void expect_refused(const std::string& path, const std::string& message) {
  const std::size_t fds = testing::count_open_fds();
  auto r = TatlDict::open(path);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), TatlError::Kind::Io);
  EXPECT_EQ(r.error().os_code(), 0);
  EXPECT_EQ(r.error().message(), message);
  EXPECT_EQ(testing::count_open_fds(), fds);
}

// Without the refusal, opening the FIFO (no writer) would block this test for good.
TEST(SpecialFiles, AreRefusedBeforeOpening) {
  SpecialFile fifo(SpecialFile::Type::Fifo);
  SpecialFile socket(SpecialFile::Type::Socket);
  expect_refused(fifo.path(), "io error: not a regular file (a FIFO)");
  expect_refused(fifo.link(), "io error: not a regular file (a FIFO)");
  expect_refused(socket.path(), "io error: not a regular file (a socket)");
  expect_refused("/dev/null", "io error: not a regular file (a character device)");
}

TEST(SpecialFiles, BlockDeviceIsRefused) {
  const auto device = find_block_device();
  if (!device) GTEST_SKIP() << "no block device is visible under /dev";
  expect_refused(*device, "io error: not a regular file (a block device)");
}

// System calls that count themselves, fail with EINTR a given number of times first, and can
// report every path as a regular file; the rest is done by the real calls.
struct FakeCalls {
  int stat_path_eintr = 0, open_eintr = 0, stat_fd_eintr = 0;
  bool path_looks_regular = false;
  int open_flags = -1;

  static int interrupt(int& remaining) {
    --remaining;
    errno = EINTR;
    return -1;
  }

  SystemCalls calls() {
    const SystemCalls& real = SystemCalls::real();
    return {
        [this, &real](const char* path, FileStat* out) {
          if (stat_path_eintr > 0) return interrupt(stat_path_eintr);
          const int r = real.stat_path(path, out);
          if (r == 0 && path_looks_regular) out->type = S_IFREG;
          return r;
        },
        [this, &real](const char* path, int flags) {
          open_flags = flags;
          if (open_eintr > 0) return interrupt(open_eintr);
          // Never block the test on a FIFO, even when the flags under test are wrong.
          return real.open_file(path, flags | O_NONBLOCK);
        },
        [this, &real](int fd, FileStat* out) {
          if (stat_fd_eintr > 0) return interrupt(stat_fd_eintr);
          return real.stat_fd(fd, out);
        },
    };
  }
};

TEST(SpecialFiles, PathSwappedAfterTheFirstLookIsRefusedAfterOpening) {
  SpecialFile fifo(SpecialFile::Type::Fifo);
  const std::pair<std::string, std::string> cases[] = {
      {fifo.path(), "io error: not a regular file (a FIFO)"},
      {"/dev/null", "io error: not a regular file (a character device)"},
  };
  for (const auto& [path, message] : cases) {
    SCOPED_TRACE(path);
    FakeCalls fake;
    fake.path_looks_regular = true;
    const std::size_t fds = testing::count_open_fds();
    auto r = TatlDict::open(path, {}, fake.calls());
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message(), message);
    EXPECT_EQ(fake.open_flags, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    EXPECT_EQ(testing::count_open_fds(), fds) << "the descriptor is closed";
  }
}

struct InterruptCase {
  const char* call;
  int FakeCalls::*eintr;
};

constexpr InterruptCase kInterruptCases[] = {
    {"stat of the path", &FakeCalls::stat_path_eintr},
    {"open", &FakeCalls::open_eintr},
    {"stat of the descriptor", &FakeCalls::stat_fd_eintr},
};

TEST(Interrupt, CheckThatGivesUpEndsOpenAndReleasesEverything) {
  const TempFile file(build({patient_name()}).bytes);
  for (const InterruptCase& c : kInterruptCases) {
    SCOPED_TRACE(c.call);
    FakeCalls fake;
    fake.*c.eintr = 1;
    int asked = 0;
    const std::size_t fds = count_open_fds();
    auto r = TatlDict::open(file.path(), [&] { return ++asked, true; }, fake.calls());
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind(), TatlError::Kind::Interrupted);
    EXPECT_EQ(r.error().message(), "interrupted by a signal");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(count_open_fds(), fds);
    EXPECT_EQ(count_mappings_of(file.path()), 0u);
  }
}

TEST(Interrupt, CallIsRepeatedWithoutACheckOrWhenTheCheckSaysGoOn) {
  const TempFile file(build({patient_name()}).bytes);
  for (const InterruptCase& c : kInterruptCases) {
    SCOPED_TRACE(c.call);
    FakeCalls fake;
    fake.*c.eintr = 3;
    auto r = TatlDict::open(file.path(), {}, fake.calls());
    ASSERT_TRUE(r.ok()) << r.error().message();
    EXPECT_EQ(fake.*c.eintr, 0);

    fake.*c.eintr = 2;
    int asked = 0;
    r = TatlDict::open(file.path(), [&] { return ++asked, false; }, fake.calls());
    ASSERT_TRUE(r.ok()) << r.error().message();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(r.value().len(), 1u);
  }
}

// Rewrites part of a file in place, as another process would while the handle maps it.
void overwrite(const std::string& path, std::size_t at, const std::vector<unsigned char>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

TEST(Handle, RootRewrittenWhileOpenChangesNothing) {
  std::vector<testing::Entry> entries;
  for (std::uint16_t i = 0; i < 40; ++i) {
    testing::Entry e = patient_name();
    e.element = i;
    e.keyword = "K" + std::to_string(i);
    entries.push_back(e);
  }
  Image image = build(entries);
  const TempFile file(image.bytes);
  auto r = TatlDict::open(file.path());
  ASSERT_TRUE(r.ok());
  const TatlDict& dict = r.value();

  // The root made to claim huge arrays anywhere in the file, then random bytes.
  Image huge = image;
  huge.put_i32(huge.index_field(), -0x7FFFFFF0);
  huge.put_u32(huge.index_field() + 4, 0x7FFFFFFF);
  huge.put_u32(huge.records_field() + 4, 0xFFFFFFFF);
  huge.put_i32(huge.strings_field(), 0x7FFFFFF0);
  huge.put_u32(huge.strings_field() + 4, 0xFFFFFFFF);
  std::vector<std::vector<unsigned char>> roots = {
      std::vector<unsigned char>(huge.bytes.begin() + static_cast<long>(huge.root_at), huge.bytes.end())};
  std::mt19937 rng(7);
  for (int i = 0; i < 50; ++i) {
    std::vector<unsigned char> root(24);
    for (auto& b : root) b = static_cast<unsigned char>(rng());
    roots.push_back(root);
  }
  for (const auto& root : roots) {
    overwrite(file.path(), image.root_at, root);
    ASSERT_EQ(dict.bytes().subspan(image.root_at, 24)[0], root[0]) << "the mapping shows the write";
    EXPECT_EQ(dict.len(), 40u);
    for (std::uint16_t i = 0; i < 40; ++i) {
      auto view = dict.lookup(0x0010, i, std::nullopt);
      ASSERT_TRUE(view) << i;
      EXPECT_EQ(view->keyword(), "K" + std::to_string(i));
    }
    EXPECT_FALSE(dict.lookup(0x0010, 40, std::nullopt));
  }
}

TEST(Handle, RecordsRewrittenWhileOpenStayInsideTheirArrays) {
  Image image = build({patient_name()});
  const TempFile file(image.bytes);
  auto r = TatlDict::open(file.path());
  ASSERT_TRUE(r.ok());
  const TatlDict& dict = r.value();

  Image changed = image;
  changed.put_u8(changed.record(0) + 40, 200);  // a VR code beyond the table
  changed.put_u32(changed.record(0) + 4, 1000);  // the name starts beyond the pool
  overwrite(file.path(), 0, changed.bytes);
  auto view = dict.lookup(0x0010, 0x0010, std::nullopt);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->vr(), "??");
  EXPECT_THROW((void)view->name(), Fault);

  changed.put_u32(changed.index_entry(0) + 4, 1);  // the record index equals the stored count
  overwrite(file.path(), 0, changed.bytes);
  EXPECT_THROW((void)dict.lookup(0x0010, 0x0010, std::nullopt), Fault);
}

TEST(Error, MessagesOfConstructedErrors) {
  EXPECT_EQ(TatlError::os(13).message(), "io error: Permission denied (os error 13)");
  EXPECT_EQ(TatlError::file_too_small(7).message(), "file too small (7 bytes) to contain a header");
  EXPECT_EQ(TatlError::bad_magic({255, 0, 1, 128}).message(), "bad magic bytes [255, 0, 1, 128]");
  EXPECT_EQ(TatlError::unsupported_version(65535).message(), "unsupported version 65535");
  EXPECT_EQ(TatlError::integrity("x").message(), "archive integrity check failed: x");
  EXPECT_EQ(TatlError::integrity("x").os_code(), 0);
  EXPECT_EQ(TatlError::interrupted().message(), "interrupted by a signal");
}

}  // namespace
}  // namespace tagatlas
