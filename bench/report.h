// What the benchmark programs print, and the statistics behind it.
//
// A program measures the project and its anchor in the same run, in
// alternating paired repetitions after a warm-up, and prints
//
//   ratio NAME: MEDIAN (min MIN, max MAX, N runs)
//   figure NAME: VALUE UNIT
//
// A ratio is the project's performance over the anchor's, one value per
// paired repetition; higher is better. A figure is an absolute value.
#ifndef OPOSSVC_BENCH_REPORT_H_
#define OPOSSVC_BENCH_REPORT_H_

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace opossvc::bench {

// The sample below which a share p (0 to 1) of the samples lie, by nearest
// rank; 0 for no samples.
inline double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  const size_t rank = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
  std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank),
                   samples.end());
  return samples[rank];
}

inline double Median(const std::vector<double>& samples) { return Percentile(samples, 0.5); }

// One paired repetition, as {project, anchor}: the anchor runs first in even
// repetitions and the project first in odd ones, so that neither side always
// meets the warmer machine.
template <class Project, class Anchor>
auto RunPaired(int run, Project&& project, Anchor&& anchor) {
  using Result = decltype(project());
  Result ours{}, theirs{};
  if (run % 2 == 0) {
    theirs = anchor();
    ours = project();
  } else {
    ours = project();
    theirs = anchor();
  }
  return std::pair<Result, Result>(std::move(ours), std::move(theirs));
}

inline void PrintRatio(const std::string& name, const std::vector<double>& per_run) {
  if (per_run.empty()) return;
  const auto [min, max] = std::minmax_element(per_run.begin(), per_run.end());
  std::printf("ratio %s: %.3f (min %.3f, max %.3f, %zu runs)\n", name.c_str(), Median(per_run),
              *min, *max, per_run.size());
}

inline void PrintFigure(const std::string& name, double value, const char* unit) {
  std::printf("figure %s: %.3f %s\n", name.c_str(), value, unit);
}

// CPU time of the whole process so far, all threads, in seconds.
inline double ProcessCpuSeconds() {
  timespec now = {};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace opossvc::bench

#endif  // OPOSSVC_BENCH_REPORT_H_
