// Answers find_element queries for the comparison with the Python package's find_element
// (tests/python/test_find_element_cpp.py). Usage: find_element_dump FILE.tatl < queries
//
// Each query line is "GGGG EEEE CREATOR", the tag in hex and the creator as "=" followed by its
// UTF-8 bytes in hex ("=" alone is the empty text), or "-" for none. Each answer line is "-" when
// nothing is found, else the found entry's group, element, creator (written as above, "=" for an
// entry without one), keyword and "block" or "full".
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "lookup/elements.h"
#include "lookup/handle.h"

namespace {

std::string to_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "=";
  for (const unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::optional<std::string> from_hex(const std::string& text) {
  if (text == "-") return std::nullopt;
  if (text.empty() || text[0] != '=' || text.size() % 2 == 0) {
    throw std::invalid_argument("bad creator field: " + text);
  }
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
    out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: find_element_dump FILE.tatl < queries\n", stderr);
    return 2;
  }
  auto opened = tagatlas::TatlDict::open(argv[1]);
  if (!opened) {
    std::fprintf(stderr, "%s: %s\n", argv[1], opened.error().message().c_str());
    return 1;
  }
  const tagatlas::TatlDict& dict = opened.value();
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string group, element, creator_hex;
    if (!(fields >> group >> element >> creator_hex)) {
      std::fprintf(stderr, "bad query line: %s\n", line.c_str());
      return 2;
    }
    const std::optional<std::string> creator = from_hex(creator_hex);
    const auto found = tagatlas::find_element(
        dict, static_cast<std::uint16_t>(std::stoul(group, nullptr, 16)),
        static_cast<std::uint16_t>(std::stoul(element, nullptr, 16)),
        creator ? std::optional<std::string_view>(*creator) : std::nullopt);
    if (!found) {
      std::cout << "-\n";
      continue;
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "%04x %04x", found->view.record().group(),
                  found->view.record().element());
    std::cout << tag << ' ' << to_hex(found->view.creator()) << ' ' << found->view.keyword() << ' '
              << (found->block_form ? "block" : "full") << '\n';
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}
