#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fixture.h"
#include "lookup/elements.h"
#include "lookup/handle.h"
#include "schema/creator.h"

namespace tagatlas {
namespace {

using testing::build;
using testing::Entry;
using testing::TempFile;

// Two creators whose canonical forms share one 32-bit hash, so lookup() cannot tell them apart.
const std::string kCollider = "ACME 462789";
const std::string kOtherCollider = "ACME 679192";

Entry entry(std::uint16_t group, std::uint16_t element, std::optional<std::string> creator,
            std::string keyword, bool block_offset) {
  Entry e;
  e.group = group;
  e.element = element;
  e.creator = std::move(creator);
  e.keyword = std::move(keyword);
  e.block_offset = block_offset;
  return e;
}

const std::vector<Entry> kEntries = {
    entry(0x0010, 0x0010, std::nullopt, "PatientName", false),
    entry(0x0019, 0x0C, "GEMS_ACQU_01", "Block", true),
    entry(0x0019, 0x100D, "GEMS_ACQU_01", "Exact", false),
    entry(0x0019, 0x0D, "GEMS_ACQU_01", "BlockD", true),
    entry(0x0029, 0x01, "CANON", "Slot", false),
    entry(0x0031, 0x10, kCollider, "Collider", true),
    // Block-offset entries without a creator: found in a private group only.
    entry(0x0009, 0x20, std::nullopt, "Anonymous", true),
    entry(0x0008, 0x20, std::nullopt, "EvenAnonymous", true),
};

class FindElement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    file_ = new TempFile(build(kEntries).bytes);
    auto opened = TatlDict::open(file_->path());
    ASSERT_TRUE(opened.ok()) << opened.error().message();
    dict_ = new TatlDict(std::move(opened).value());
  }
  static void TearDownTestSuite() {
    delete dict_;
    delete file_;
  }
  static TempFile* file_;
  static TatlDict* dict_;
};
TempFile* FindElement::file_ = nullptr;
TatlDict* FindElement::dict_ = nullptr;

struct Query {
  const char* name;
  std::uint16_t group;
  std::uint16_t element;
  std::optional<std::string> creator;
  const char* keyword;  // nullptr: nothing is found
  bool block_form;
};

void PrintTo(const Query& q, std::ostream* os) { *os << q.name; }

class FindElementCase : public FindElement, public ::testing::WithParamInterface<Query> {};

TEST_P(FindElementCase, FindsTheEntryAFileMeans) {
  const Query& q = GetParam();
  const auto creator = q.creator ? std::optional<std::string_view>(*q.creator) : std::nullopt;
  const std::optional<FoundElement> found = find_element(*dict_, q.group, q.element, creator);
  if (q.keyword == nullptr) {
    EXPECT_FALSE(found.has_value()) << found->view.keyword();
    return;
  }
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->view.keyword(), q.keyword);
  EXPECT_EQ(found->block_form, q.block_form);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, FindElementCase,
    ::testing::Values(
        Query{"Public", 0x0010, 0x0010, std::nullopt, "PatientName", false},
        Query{"BlockForm", 0x0019, 0x100C, "GEMS_ACQU_01", "Block", true},
        Query{"AnyBlockAnySpelling", 0x0019, 0x200C, " gems_acqu_01 ", "Block", true},
        Query{"TheLowByteItself", 0x0019, 0x000C, "GEMS_ACQU_01", "Block", true},
        Query{"FullElementFirst", 0x0019, 0x100D, "GEMS_ACQU_01", "Exact", false},
        Query{"BlockFormInAnotherBlock", 0x0019, 0x200D, "GEMS_ACQU_01", "BlockD", true},
        Query{"FixedLowElement", 0x0029, 0x0001, "CANON", "Slot", false},
        Query{"CollidingCreatorItself", 0x0031, 0x1010, "acme 462789", "Collider", true},
        Query{"PrivateGroupWithoutCreator", 0x0009, 0x1020, std::nullopt, "Anonymous", true},
        Query{"Missing", 0x0010, 0x0011, std::nullopt, nullptr, false},
        Query{"PrivateTagNeedsItsCreator", 0x0019, 0x100C, std::nullopt, nullptr, false},
        Query{"AnotherCreator", 0x0019, 0x100C, "GEMS_ACQU_02", nullptr, false},
        Query{"PublicTagHasNoCreator", 0x0010, 0x0010, "GEMS_ACQU_01", nullptr, false},
        Query{"FixedElementIsNoBlockOffset", 0x0029, 0x1001, "CANON", nullptr, false},
        Query{"SameHashAnotherCreator", 0x0031, 0x1010, kOtherCollider, nullptr, false},
        Query{"EvenGroupWithoutCreatorHasNoBlockForm", 0x0008, 0x1020, std::nullopt, nullptr,
              false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FindElement, CollidersShareAHashButNotACreator) {
  EXPECT_EQ(hash_creator(kCollider), hash_creator(kOtherCollider));
  EXPECT_TRUE(dict_->lookup(0x0031, 0x10, kOtherCollider).has_value());  // the hash alone matches
}

}  // namespace
}  // namespace tagatlas
