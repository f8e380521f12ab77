#pragma once

// Helpers for running lmsview as a child process against the emulator:
// reading the tables it printed and the scans the emulator says it sent.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "lms/protocol/reply.h"

struct ShownTable {
  int sample = -1;
  std::vector<std::string> rows;  // "i angle range"
};

// Every table in lmsview's standard output (not a terminal: no escape codes).
inline std::vector<ShownTable> parseTables(const std::string& out) {
  std::vector<ShownTable> tables;
  std::istringstream in(out);
  std::string line;
  ShownTable* cur = nullptr;
  while (std::getline(in, line)) {
    if (line.rfind("muestra: ", 0) == 0) {
      tables.push_back({std::stoi(line.substr(9)), {}});
      cur = &tables.back();
      continue;
    }
    if (!cur) continue;
    if (line.empty() || line[0] == '[') {
      if (line.empty() && !cur->rows.empty()) cur = nullptr;
      continue;
    }
    if (line[0] >= '0' && line[0] <= '9')
      cur->rows.push_back(line);
    else
      cur = nullptr;  // another thread's message: the table had ended
  }
  return tables;
}

struct SentScan {
  long long number = 0;
  std::string fate;
  std::vector<std::string> rows;  // as lmsview must show them
};

// The emulator's scan log: "number fate w0 ... w360" per measurement reply.
inline std::vector<SentScan> readScanLog(std::FILE* log) {
  std::vector<SentScan> scans;
  std::fflush(log);
  std::rewind(log);
  char line[8192];
  while (std::fgets(line, sizeof line, log)) {
    std::istringstream in(line);
    SentScan s;
    in >> s.number >> s.fate;
    std::vector<unsigned> words;
    for (unsigned w = 0; in >> w;) words.push_back(w);
    // The table's degrees from the scanner's right, by the scan's field and resolution.
    const double first = words.size() % 180 == 1 ? 0.0 : 40.0;
    const double step = (first == 0.0 ? 180.0 : 100.0) / static_cast<double>(words.size() - 1);
    for (std::size_t i = 0; i < words.size(); ++i) {
      char row[96];
      std::snprintf(row, sizeof row, "%zu %2.2f %2.2f", i, first + step * static_cast<double>(i),
                    static_cast<double>(static_cast<float>((words[i] & 0x1FFF) / 10.0)));
      s.rows.push_back(row);
    }
    scans.push_back(std::move(s));
  }
  return scans;
}

inline int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
