#include "timing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

namespace bench {

double now_ns() {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Side repeated(std::function<std::uint64_t()> batch, std::size_t ops, double min_ns) {
  auto batches = std::make_shared<std::size_t>(0);
  return [batch = std::move(batch), ops, min_ns, batches]() {
    if (*batches == 0) {
      const double start = now_ns();
      do_not_optimize(batch());
      const double one = std::max(now_ns() - start, 1.0);
      *batches = static_cast<std::size_t>(std::ceil(min_ns / one));
    }
    // One untimed batch first: the other sides of a round may have evicted this one's working set.
    do_not_optimize(batch());
    const double start = now_ns();
    for (std::size_t i = 0; i < *batches; ++i) do_not_optimize(batch());
    return (now_ns() - start) / static_cast<double>(*batches * ops);
  };
}

Side self_timed(std::function<double()> once, double min_ns) {
  return [once = std::move(once), min_ns]() {
    const double start = now_ns();
    std::vector<double> runs;
    do {
      runs.push_back(once());
    } while (now_ns() - start < min_ns);
    // The median run: one open that the scheduler interrupted does not move it.
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
  };
}

std::vector<Summary> interleaved(int rounds, const std::vector<Side>& sides) {
  const std::size_t n = sides.size();
  for (const Side& side : sides) side();
  std::vector<std::vector<double>> samples(n);
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = (static_cast<std::size_t>(r) + k) % n;
      samples[i].push_back(sides[i]());
    }
  }
  std::vector<Summary> out;
  for (std::vector<double>& s : samples) {
    std::sort(s.begin(), s.end());
    const double median = s[s.size() / 2];
    out.push_back({median, (s[s.size() * 3 / 4] - s[s.size() / 4]) / median});
  }
  return out;
}

}  // namespace bench
