#include "fixture.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>

#include <gtest/gtest.h>

#include "schema/constants.h"
#include "schema/creator.h"

namespace tagatlas::testing {
namespace {

void append_u16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8);
}

void append_u32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back((v >> shift) & 0xFF);
}

}  // namespace

void Image::put_u16(std::size_t at, std::uint16_t v) {
  bytes.at(at) = v & 0xFF;
  bytes.at(at + 1) = v >> 8;
}

void Image::put_u32(std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = (v >> (8 * i)) & 0xFF;
}

void Image::point(std::size_t field, std::size_t target, std::uint32_t count) {
  put_i32(field, static_cast<std::int32_t>(static_cast<std::int64_t>(target) - static_cast<std::int64_t>(field)));
  put_u32(field + 4, count);
}

Image build(const std::vector<Entry>& entries) {
  Image image;
  auto& out = image.bytes;
  out = {'T', 'A', 'T', 'L'};
  append_u16(out, kSupportedVersion);
  out.resize(32, 0);

  std::vector<std::uint32_t> hashes;
  for (const Entry& e : entries) {
    hashes.push_back(e.creator ? hash_creator(std::string_view(*e.creator)) : 0);
  }
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const Entry& x = entries[a];
    const Entry& y = entries[b];
    if (x.group != y.group) return x.group < y.group;
    if (x.element != y.element) return x.element < y.element;
    return hashes[a] < hashes[b];
  });

  image.index_at = out.size();
  for (std::size_t i : order) {
    append_u32(out, hashes[i]);
    append_u32(out, static_cast<std::uint32_t>(i));
    append_u16(out, entries[i].group);
    append_u16(out, entries[i].element);
  }

  std::string pool;
  // Empty texts point at offset 0, as a writer does.
  auto add_text = [&pool](const std::string& text) {
    if (text.empty()) return std::uint32_t{0};
    const auto offset = static_cast<std::uint32_t>(pool.size());
    pool += text;
    return offset;
  };
  image.records_at = out.size();
  for (const Entry& e : entries) {
    const std::string creator = e.creator.value_or("");
    append_u32(out, add_text(e.keyword));
    append_u32(out, add_text(e.name));
    append_u32(out, add_text(creator));
    append_u32(out, add_text(e.description));
    append_u32(out, static_cast<std::uint32_t>(e.description.size()));
    append_u32(out, add_text(e.sources));
    append_u32(out, static_cast<std::uint32_t>(e.sources.size()));
    append_u16(out, e.group);
    append_u16(out, e.element);
    append_u16(out, static_cast<std::uint16_t>(e.keyword.size()));
    append_u16(out, static_cast<std::uint16_t>(e.name.size()));
    append_u16(out, static_cast<std::uint16_t>(creator.size()));
    out.insert(out.end(), {0, 0, e.vr, e.block_offset, e.retired, 0});
  }

  image.pool_at = out.size();
  out.insert(out.end(), pool.begin(), pool.end());
  out.resize((out.size() + 3) / 4 * 4, 0);

  image.root_at = out.size();
  out.resize(out.size() + 24, 0);
  image.point(image.index_field(), image.index_at, static_cast<std::uint32_t>(entries.size()));
  image.point(image.records_field(), image.records_at, static_cast<std::uint32_t>(entries.size()));
  image.point(image.strings_field(), image.pool_at, static_cast<std::uint32_t>(pool.size()));
  return image;
}

Entry patient_name() {
  Entry e;
  e.group = 0x0010;
  e.element = 0x0010;
  e.keyword = "PatientName";
  e.name = "Patient's Name";
  e.vr = 18;
  return e;
}

TempFile::TempFile(const std::vector<unsigned char>& bytes) {
  std::string tmpl = ::testing::TempDir() + "tatlXXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  path_ = dir_ + "/dict.tatl";
  std::ofstream f(path_, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path_);
}

TempFile::~TempFile() {
  ::unlink(path_.c_str());
  ::rmdir(dir_.c_str());
}

std::size_t count_open_fds() {
  std::size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

std::size_t count_mappings() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::size_t n = 0;
  while (std::getline(maps, line)) ++n;
  return n;
}

std::size_t count_mappings_of(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::size_t n = 0;
  while (std::getline(maps, line)) {
    if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0) ++n;
  }
  return n;
}

}  // namespace tagatlas::testing
