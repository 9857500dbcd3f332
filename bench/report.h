#pragma once

// The result table: one row per case, the ratio against what the case is compared with, and
// whether the goal is met.

#include <optional>
#include <string>
#include <vector>

#include "timing.h"

namespace bench {

struct Row {
  std::string name;
  Summary ours;                  // tagatlas
  std::optional<Summary> other;  // what it is compared with, if anything
  std::string other_name;        // "DCMTK", "floor", "15k"
  // A goal on the ratio ours / other, or on ours itself in nanoseconds; at most one is set.
  std::optional<double> ratio_goal;
  std::optional<double> ns_goal;
};

// Columns: case, tagatlas ns, other ns, other, ratio, noise (the larger relative interquartile
// range of the two sides' rounds), goal, result.
void print_table(const std::vector<Row>& rows);

}  // namespace bench
