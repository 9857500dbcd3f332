#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fixture.h"
#include "lookup/fault.h"
#include "lookup/handle.h"
#include "schema/creator.h"

namespace tagatlas {
namespace {

using testing::Entry;
using testing::Image;
using testing::TempFile;
using testing::build;

Entry entry(std::uint16_t group, std::uint16_t element, std::string keyword,
            std::optional<std::string> creator = std::nullopt) {
  Entry e;
  e.group = group;
  e.element = element;
  e.keyword = std::move(keyword);
  e.creator = std::move(creator);
  return e;
}

// Opens an image from a temporary file for the life of the fixture.
struct Opened {
  explicit Opened(const Image& image) : file(image.bytes), dict(std::move(TatlDict::open(file.path()).value())) {}
  std::string keyword(std::uint16_t g, std::uint16_t e, std::optional<std::string_view> c = std::nullopt) const {
    auto view = dict.lookup(g, e, c);
    return view ? std::string(view->keyword()) : std::string("<miss>");
  }
  TempFile file;
  TatlDict dict;
};

TEST(Lookup, CreatorMatchesByCanonicalForm) {
  const Opened d(build({entry(0x0019, 0x10, "Acme", "ACME CT"), entry(0x0029, 0x01, "Strasse", "Straße"),
                        entry(0x0019, 0x10, "Zws", "ACME\u200BCT")}));
  const std::pair<const char*, const char*> queries[] = {
      {"ACME CT", "Acme"},
      {"acme ct", "Acme"},
      {"  acme\tct  ", "Acme"},
      {"acme\u00A0ct", "Acme"},
      {"Acme\u3000\u2028Ct", "Acme"},
      {"acme\u200Bct", "Zws"},  // a zero-width space is not whitespace
      {"acmect", "<miss>"},
      {"ACME C", "<miss>"},
  };
  for (const auto& [creator, keyword] : queries) {
    EXPECT_EQ(d.keyword(0x0019, 0x10, creator), keyword) << creator;
  }
  EXPECT_EQ(d.keyword(0x0029, 0x01, "STRASSE"), "Strasse");
  EXPECT_EQ(d.keyword(0x0029, 0x01, "strasse"), "Strasse");
}

TEST(Lookup, AbsentAndEmptyCreatorAreDifferentKeys) {
  const Opened d(build({entry(0x0009, 0x01, "NoCreator"), entry(0x0009, 0x01, "EmptyCreator", "")}));
  EXPECT_EQ(d.keyword(0x0009, 0x01), "NoCreator");
  EXPECT_EQ(d.keyword(0x0009, 0x01, ""), "EmptyCreator");
  EXPECT_EQ(d.keyword(0x0009, 0x01, "  \t "), "EmptyCreator");
}

TEST(Lookup, PrivateAndPublicKeysDoNotCross) {
  const Opened d(build({entry(0x0010, 0x10, "Public"), entry(0x0019, 0x10, "Private", "GEMS")}));
  EXPECT_EQ(d.keyword(0x0019, 0x10), "<miss>") << "a private entry needs its creator";
  EXPECT_EQ(d.keyword(0x0010, 0x10, "GEMS"), "<miss>") << "a public entry has no creator";
  EXPECT_EQ(d.keyword(0x0010, 0x10), "Public");
  EXPECT_EQ(d.keyword(0x0019, 0x10, "gems"), "Private");
}

// "XAI_P774" is already canonical and its FNV-1a hash is 0, the value of entries without a creator.
TEST(Lookup, CreatorThatHashesToZeroFindsNothing) {
  ASSERT_EQ(hash_creator(std::string_view("XAI_P774")), 0u);
  const Opened d(build({entry(0x0010, 0x0010, "PatientName"), entry(0x0019, 0x10, "NoCreator"),
                        entry(0x0019, 0x10, "Acme", "ACME")}));
  for (const char* creator : {"XAI_P774", "xai_p774", "  Xai_P774\t"}) {
    EXPECT_EQ(d.keyword(0x0010, 0x0010, creator), "<miss>") << creator;
    EXPECT_EQ(d.keyword(0x0019, 0x10, creator), "<miss>") << creator;
  }
  EXPECT_EQ(d.keyword(0x0010, 0x0010), "PatientName");
  EXPECT_EQ(d.keyword(0x0019, 0x10), "NoCreator");
  EXPECT_EQ(d.keyword(0x0019, 0x10, "acme"), "Acme");
}

TEST(Lookup, ElementIsComparedExactlyAsPassed) {
  Entry xx = entry(0x0019, 0x0C, "BlockOffset", "GEMS_ACQU_01");
  xx.block_offset = true;
  const Opened d(build({xx}));
  EXPECT_EQ(d.keyword(0x0019, 0x0C, "GEMS_ACQU_01"), "BlockOffset");
  EXPECT_EQ(d.keyword(0x0019, 0x100C, "GEMS_ACQU_01"), "<miss>");
}

TEST(Lookup, EmptyIndexFindsNothing) {
  const Opened d(build({}));
  for (auto [g, e] : {std::pair<int, int>{0, 0}, {0xFFFF, 0xFFFF}, {0x10, 0x10}}) {
    EXPECT_FALSE(d.dict.lookup(g, e, std::nullopt).has_value());
    EXPECT_FALSE(d.dict.lookup(g, e, "").has_value());
  }
}

TEST(Lookup, OneEntryIndex) {
  const Opened d(build({entry(0x0010, 0x0010, "PatientName")}));
  EXPECT_EQ(d.keyword(0x0010, 0x0010), "PatientName");
  EXPECT_EQ(d.keyword(0x0010, 0x0011), "<miss>");
  EXPECT_EQ(d.keyword(0x0010, 0x000F), "<miss>");
  EXPECT_EQ(d.keyword(0x0010, 0x0010, "x"), "<miss>");
}

TEST(Lookup, KeysOutsideTheIndexRangeMiss) {
  const Opened d(build({entry(0x0008, 0x0016, "A"), entry(0x0010, 0x0010, "B"), entry(0x7FE0, 0x0010, "C")}));
  EXPECT_EQ(d.keyword(0x0000, 0x0000), "<miss>");
  EXPECT_EQ(d.keyword(0x0008, 0x0015), "<miss>");
  EXPECT_EQ(d.keyword(0xFFFF, 0xFFFF), "<miss>");
  EXPECT_EQ(d.keyword(0x7FE0, 0x0010), "C");
  EXPECT_EQ(d.keyword(0x0008, 0x0016), "A");
}

TEST(Lookup, LastOfEqualEntriesWins) {
  // Equal keys at index positions 4, 5 and 6.
  std::vector<Entry> entries;
  for (int i = 0; i < 4; ++i) entries.push_back(entry(0x0008, static_cast<std::uint16_t>(i), "before"));
  for (const char* k : {"first", "second", "third"}) entries.push_back(entry(0x0010, 0x0010, k));
  for (int i = 0; i < 5; ++i) entries.push_back(entry(0x0020, static_cast<std::uint16_t>(i), "after"));
  for (std::size_t n = 7; n <= entries.size(); ++n) {
    const Opened d(build(std::vector<Entry>(entries.begin(), entries.begin() + static_cast<long>(n))));
    EXPECT_EQ(d.keyword(0x0010, 0x0010), "third") << "index of " << n;
  }
}

TEST(Lookup, ResultReportsTheRecordNotTheQuery) {
  Image image = build({entry(0x0010, 0x0010, "PatientName")});
  image.put_u16(image.record(0) + 28, 0x1234);
  image.put_u16(image.record(0) + 30, 0x5678);
  const Opened d(image);
  auto view = d.dict.lookup(0x0010, 0x0010, std::nullopt);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->record().group(), 0x1234);
  EXPECT_EQ(view->record().element(), 0x5678);
}

TEST(Lookup, RecordIndexBeyondRecordsIsAFaultThatLeavesTheHandleUsable) {
  Image image = build({entry(0x0008, 0x0001, "Good"), entry(0x0008, 0x0002, "Bad"), entry(0x0008, 0x0003, "Far")});
  image.put_u32(image.index_entry(1) + 4, 3);  // equals the record count
  image.put_u32(image.index_entry(2) + 4, 0xFFFFFFFF);
  const Opened d(image);
  const std::pair<std::uint16_t, std::string> faults[] = {
      {0x0002, "index out of bounds: the len is 3 but the index is 3"},
      {0x0003, "index out of bounds: the len is 3 but the index is 4294967295"},
  };
  for (const auto& [element, message] : faults) {
    try {
      (void)d.dict.lookup(0x0008, element, std::nullopt);
      ADD_FAILURE() << "no fault for element " << element;
    } catch (const Fault& f) {
      EXPECT_EQ(f.what(), message);
    }
  }
  EXPECT_EQ(d.keyword(0x0008, 0x0001), "Good");
  EXPECT_EQ(d.keyword(0x0008, 0x0004), "<miss>");
}

// Random dictionaries checked against an ordered map, for sizes around powers of two where
// off-by-one errors in a binary search show.
TEST(Lookup, AgreesWithAReferenceMap) {
  std::mt19937 rng(1234);
  const std::optional<std::string> creators[] = {std::nullopt, "", "ACME", "GEMS_ACQU_01", "SIEMENS CSA HEADER"};
  for (std::size_t n : {2u, 3u, 7u, 8u, 9u, 31u, 32u, 33u, 200u}) {
    std::vector<Entry> entries;
    std::map<std::tuple<int, int, std::uint32_t>, std::string> reference;
    for (std::size_t i = 0; i < n; ++i) {
      Entry e = entry(static_cast<std::uint16_t>(rng() % 4), static_cast<std::uint16_t>(rng() % 6),
                      "k" + std::to_string(i), creators[rng() % 5]);
      reference[{e.group, e.element, e.creator ? hash_creator(std::string_view(*e.creator)) : 0}] = e.keyword;
      entries.push_back(e);
    }
    const Opened d(build(entries));
    for (int g = 0; g < 5; ++g) {
      for (int el = 0; el < 7; ++el) {
        for (const auto& c : creators) {
          const auto key = std::make_tuple(g, el, c ? hash_creator(std::string_view(*c)) : 0u);
          const auto it = reference.find(key);
          const std::optional<std::string_view> query = c ? std::optional<std::string_view>(*c) : std::nullopt;
          EXPECT_EQ(d.keyword(g, el, query), it == reference.end() ? "<miss>" : it->second)
              << "n=" << n << " key " << g << "," << el;
        }
      }
    }
  }
}

TEST(Lookup, ConcurrentLookupsOnOneHandle) {
  std::vector<Entry> entries;
  for (int i = 0; i < 500; ++i) entries.push_back(entry(0x0008, static_cast<std::uint16_t>(i), "k" + std::to_string(i), "C"));
  const Opened d(build(entries));
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 500; ++i) {
          if (d.keyword(0x0008, static_cast<std::uint16_t>(i), "c") != "k" + std::to_string(i)) ++wrong[t];
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tagatlas
