#pragma once

#include <map>
#include <string>
#include <vector>

// The results table: one row per measure, one column per peer with the median over rounds, and
// the helper's ratio to each reference: the median of the rounds' ratios, then each round's.

inline const std::vector<std::string> kPeers = {"helper", "tcp echo", "ws (node)"};

struct Measure {
  std::string label;
  std::string unit;
  int decimals = 1;
  std::map<std::string, std::vector<double>> rounds;  // per peer, one value per round
};

// Adds `value` as the next round's value of `peer`; a negative value (not measured) is skipped.
void record(Measure& measure, const std::string& peer, double value);

// Median over the rounds of `peer`; -1 when nothing was recorded.
double median_of(const Measure& measure, const std::string& peer);

// The median over rounds of helper / reference; -1 when either is missing.
double ratio_of(const Measure& measure, const std::string& reference);

// The table in Markdown, columns padded so it also reads as plain text.
std::string format_table(const std::vector<Measure>& measures);

// A Markdown table of already formatted cells; the first row is the heading.
std::string format_rows(const std::vector<std::vector<std::string>>& rows);

// printf-style formatting into a std::string.
[[gnu::format(printf, 1, 2)]] std::string text_of(const char* format, ...);
