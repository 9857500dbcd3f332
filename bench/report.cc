#include "report.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

std::string format(const char* fmt, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

// Nanoseconds with thousands separators: "1,234,567", or "45.3" below 1,000.
std::string ns(double value) {
  if (value < 1000) return format("%.1f", value);
  std::string digits = format("%.0f", value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

constexpr const char* kLine = "%-46s %13s %13s %-6s %9s %6s %10s  %s\n";

}  // namespace

void print_table(const std::vector<Row>& rows) {
  std::printf(kLine, "case", "tagatlas ns", "other ns", "other", "ratio", "noise", "goal", "result");
  for (const Row& row : rows) {
    const double ours = row.ours.median;
    std::string other = "-", other_name = "-", ratio = "-", goal = "-", result = "-";
    double noise = row.ours.spread;
    if (row.other) {
      other = ns(row.other->median);
      other_name = row.other_name;
      ratio = format("%.3fx", ours / row.other->median);
      noise = std::max(noise, row.other->spread);
    }
    if (row.ratio_goal) {
      goal = format("<= %.2gx", *row.ratio_goal);
      result = ours / row.other->median <= *row.ratio_goal ? "met" : "MISSED";
    } else if (row.ns_goal) {
      goal = format("<= %.3g ms", *row.ns_goal / 1e6);
      result = ours <= *row.ns_goal ? "met" : "MISSED";
    }
    std::printf(kLine, row.name.c_str(), ns(ours).c_str(), other.c_str(), other_name.c_str(),
                ratio.c_str(), format("%.0f%%", noise * 100).c_str(), goal.c_str(), result.c_str());
  }
}

}  // namespace bench
