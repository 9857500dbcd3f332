#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "fixture.h"
#include "lookup/handle.h"

namespace tagatlas {
namespace {

using testing::build;
using testing::count_mappings;
using testing::count_mappings_of;
using testing::count_open_fds;
using testing::patient_name;
using testing::TempFile;

std::vector<unsigned char> header(std::vector<unsigned char> first, std::size_t len) {
  first.resize(len, 0);
  return first;
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
  auto versioned = [&](unsigned char lo, unsigned char hi, std::size_t len) {
    auto b = tatl;
    b.push_back(lo);
    b.push_back(hi);
    return header(b, len);
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
      {"version 1", versioned(1, 0, 56), TatlError::Kind::UnsupportedVersion, "unsupported version 1"},
      {"version 3", versioned(3, 0, 32), TatlError::Kind::UnsupportedVersion, "unsupported version 3"},
      {"version 513", versioned(1, 2, 56), TatlError::Kind::UnsupportedVersion, "unsupported version 513"},
      {"header only", versioned(2, 0, 32), TatlError::Kind::Integrity,
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
  const TempFile file(header({'T', 'A', 'T', 'L', 2, 0}, 32));
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
  const TempFile file(header({'T', 'A', 'T', 'L', 3, 0}, 40));
  auto r = TatlDict::open(file.path());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().version(), 3);
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

TEST(Error, MessagesOfConstructedErrors) {
  EXPECT_EQ(TatlError::os(13).message(), "io error: Permission denied (os error 13)");
  EXPECT_EQ(TatlError::file_too_small(7).message(), "file too small (7 bytes) to contain a header");
  EXPECT_EQ(TatlError::bad_magic({255, 0, 1, 128}).message(), "bad magic bytes [255, 0, 1, 128]");
  EXPECT_EQ(TatlError::unsupported_version(65535).message(), "unsupported version 65535");
  EXPECT_EQ(TatlError::integrity("x").message(), "archive integrity check failed: x");
  EXPECT_EQ(TatlError::integrity("x").os_code(), 0);
}

}  // namespace
}  // namespace tagatlas
