#pragma once

// One open of a dictionary by each contender, timed up to the moment the dictionary is usable;
// releasing it afterwards is not counted. Each returns the nanoseconds it took.

#include <string>
#include <vector>

namespace bench {

// TatlDict::open: open, map, header tests, validation. Throws std::runtime_error on failure.
double time_tatl_open(const std::string& path);

// What any open of the file must cost: open the file, ask its size, map it, and read the bytes
// validation reads (magic and version, the root, and bytes 40-42 of every record, which walks
// every page of the records) as cheaply as possible, without testing any of them. Expects a
// valid file.
double time_open_floor(const std::string& path);

// A fresh DcmDataDictionary (with DCMTK's small built-in skeleton) that loads the given files.
double time_dcmtk_load(const std::vector<std::string>& paths);

}  // namespace bench
