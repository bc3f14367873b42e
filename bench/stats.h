#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Order statistics over a handful of samples; every function takes a copy and leaves the caller's
// samples alone. An empty sample set gives 0.

// The value below which `fraction` (0..1) of the samples lie, by the nearest-rank rule.
inline double percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  size_t rank = static_cast<size_t>(fraction * static_cast<double>(samples.size()) + 0.999999);
  if (rank < 1) rank = 1;
  if (rank > samples.size()) rank = samples.size();
  return samples[rank - 1];
}

// The middle value (the mean of the two middle ones for an even count).
inline double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  size_t half = samples.size() / 2;
  return samples.size() % 2 == 1 ? samples[half] : (samples[half - 1] + samples[half]) / 2;
}

inline double mean(const std::vector<double>& samples) {
  if (samples.empty()) return 0;
  double total = 0;
  for (double value : samples) total += value;
  return total / static_cast<double>(samples.size());
}
