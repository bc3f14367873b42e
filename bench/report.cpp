#include "report.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "stats.h"

void record(Measure& measure, const std::string& peer, double value) {
  if (value >= 0) measure.rounds[peer].push_back(value);
}

double median_of(const Measure& measure, const std::string& peer) {
  auto found = measure.rounds.find(peer);
  if (found == measure.rounds.end() || found->second.empty()) return -1;
  return median(found->second);
}

namespace {

// helper / reference, round by round: the peers ran back to back within each round, so these
// ratios see the same machine even when its load drifts between rounds.
std::vector<double> round_ratios(const Measure& measure, const std::string& reference) {
  std::vector<double> ratios;
  auto ours = measure.rounds.find("helper");
  auto theirs = measure.rounds.find(reference);
  if (ours == measure.rounds.end() || theirs == measure.rounds.end()) return ratios;
  for (size_t i = 0; i < std::min(ours->second.size(), theirs->second.size()); ++i) {
    if (theirs->second[i] > 0) ratios.push_back(ours->second[i] / theirs->second[i]);
  }
  return ratios;
}

// "1.04 (1.02 1.04 1.07)": the median of the rounds' ratios, then each round's own ratio.
std::string ratio_cell(const Measure& measure, const std::string& reference) {
  std::vector<double> ratios = round_ratios(measure, reference);
  if (ratios.empty()) return "-";
  std::string cell = text_of("%.2f (", median(ratios));
  for (size_t i = 0; i < ratios.size(); ++i) {
    if (i > 0) cell += ' ';
    cell += text_of("%.2f", ratios[i]);
  }
  return cell + ")";
}

}  // namespace

double ratio_of(const Measure& measure, const std::string& reference) {
  std::vector<double> ratios = round_ratios(measure, reference);
  return ratios.empty() ? -1 : median(ratios);
}

std::string text_of(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string format_rows(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out;
  for (size_t r = 0; r < rows.size(); ++r) {
    out += '|';
    for (size_t c = 0; c < widths.size(); ++c) {
      std::string cell = c < rows[r].size() ? rows[r][c] : "";
      // Numbers line up on the right, words on the left.
      bool numeric = c > 0 && !cell.empty() && (std::isdigit(cell[0]) || cell[0] == '-');
      std::string pad(widths[c] - cell.size(), ' ');
      out += ' ' + (numeric ? pad + cell : cell + pad) + " |";
    }
    out += '\n';
    if (r == 0) {
      out += '|';
      for (size_t width : widths) out += std::string(width + 2, '-') + '|';
      out += '\n';
    }
  }
  return out;
}

std::string format_table(const std::vector<Measure>& measures) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> heading = {"measure"};
  for (const std::string& peer : kPeers) heading.push_back(peer);
  heading.push_back("helper / tcp echo (rounds)");
  heading.push_back("helper / ws (rounds)");
  rows.push_back(heading);
  for (const Measure& measure : measures) {
    std::vector<std::string> row = {measure.label + " (" + measure.unit + ")"};
    for (const std::string& peer : kPeers) {
      double value = median_of(measure, peer);
      row.push_back(value < 0 ? "-" : text_of("%.*f", measure.decimals, value));
    }
    row.push_back(ratio_cell(measure, "tcp echo"));
    row.push_back(ratio_cell(measure, "ws (node)"));
    rows.push_back(row);
  }
  return format_rows(rows);
}
