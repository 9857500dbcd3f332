#pragma once

// Measurement helpers: a sink that keeps results alive, and interleaved rounds whose medians are
// compared. Nothing is pinned; interleaving puts both sides of a comparison under the same
// machine noise, and the median ignores the rounds that noise hit hardest.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace bench {

// Makes the compiler assume the value is read, so the work producing it is not dropped.
template <class T>
inline void do_not_optimize(const T& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

// One measurement of one side: runs its operation some number of times and returns the
// nanoseconds per operation.
using Side = std::function<double()>;

// A side made of a batch of `ops` operations that returns a checksum. The first call chooses how
// many batches one measurement runs so that it lasts at least `min_ns`; each measurement runs
// one more batch before it, untimed, so that it measures the warmed-up state.
Side repeated(std::function<std::uint64_t()> batch, std::size_t ops, double min_ns = 2e6);

// A side whose operation times itself and returns the nanoseconds of the part that counts (an
// open, without the release that follows it). Runs it until `min_ns` of wall time has passed,
// at least once, and returns the median run.
Side self_timed(std::function<double()> once, double min_ns = 2e6);

// The rounds of one side: their median, and their interquartile range relative to it (how much
// the machine disturbed the measurement).
struct Summary {
  double median;
  double spread;
};

// Runs every side once as warm-up, then `rounds` rounds of one measurement each; round r starts
// with side r mod n and goes round, so no side is always first.
std::vector<Summary> interleaved(int rounds, const std::vector<Side>& sides);

// Nanoseconds since an arbitrary fixed point, from the steady clock.
double now_ns();

}  // namespace bench
