// Opens a dictionary file, looks up a public tag and finds a private element as a DICOM file
// carries it: lookup_example FILE.tatl
#include <tagatlas/tagatlas.h>

#include <cstdio>
#include <string>

namespace {

void print_entry(const tagatlas::TagView& view) {
  std::printf("(%04X,%04X) %s %s \"%s\"", view.record().group(), view.record().element(),
              std::string(view.vr()).c_str(), std::string(view.keyword()).c_str(),
              std::string(view.name()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.tatl\n", argv[0]);
    return 2;
  }
  // Expected failures are values: a missing or damaged file gives a TatlError, never an exception.
  auto opened = tagatlas::TatlDict::open(argv[1]);
  if (!opened) {
    std::fprintf(stderr, "%s: %s\n", argv[1], opened.error().message().c_str());
    return 1;
  }
  const tagatlas::TatlDict& dict = opened.value();
  std::printf("%zu entries\n", dict.len());

  if (auto view = dict.lookup(0x0010, 0x0010, std::nullopt)) {
    print_entry(*view);
    std::printf("\n");
  }

  // A file holds (0019,1012) and names its creator in (0019,0010); the dictionary holds the
  // element by its offset in that creator's block, (0019,xx12).
  if (auto found = tagatlas::find_element(dict, 0x0019, 0x1012, "gems_acqu_01")) {
    print_entry(found->view);
    std::printf(" of \"%s\"%s\n", std::string(found->view.creator()).c_str(),
                found->block_form ? ", a block offset" : "");
  }

  auto missing = tagatlas::TatlDict::open("no-such-file.tatl");
  if (!missing) std::printf("%s\n", missing.error().message().c_str());
  return 0;
}
