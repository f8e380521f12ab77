// SPDX-License-Identifier: Apache-2.0
#pragma once

// --format plot: a scan drawn top-down in the terminal with Unicode braille
// characters (2 x 4 dots a character cell): the scanner at the bottom
// centre, its right to the right, straight ahead up, its left to the left.
// The scale puts the farthest valid range (or a fixed one) at the top;
// range rings, labelled in metres, are drawn with sparse dots so they read
// as faint. On a terminal it redraws in place at the window's size,
// elsewhere the frames follow each other.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "lmsview/scanner.h"

namespace app {

// A grid of braille dots: `cols` x `rows` character cells, 2 x 4 dots each.
class BrailleCanvas {
 public:
  BrailleCanvas(int cols, int rows);
  int width() const { return cols_ * 2; }   // dots
  int height() const { return rows_ * 4; }  // dots
  // Sets the dot at (x, y), y down; a dot outside the canvas is dropped.
  void set(int x, int y);
  bool isSet(int x, int y) const;
  // Puts text over the cells from (col, row) on; what does not fit is cut.
  void label(int col, int row, const std::string& text);
  // The rows as UTF-8 text, each ended by "\n"; an empty cell is a space.
  std::string render() const;

 private:
  std::size_t cell(int col, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col);
  }

  int cols_;
  int rows_;
  std::vector<std::uint8_t> dots_;  // one byte of 8 dot bits per cell
  std::vector<char> text_;          // a label character over the cell, or 0
};

// The largest picture drawn, in cells, whatever the window's size.
inline constexpr int kMaxPlotCols = 1000;
inline constexpr int kMaxPlotRows = 500;

struct PlotView {
  int cols = 80;  // the terminal's size, in cells
  int rows = 24;
  double maxRangeM = 0;       // 0: the scan's farthest valid range
  double scansPerSecond = 0;  // for the status line; 0: not known yet
  std::uint64_t sample = 0;   // the frame's number: frames shown count 0, 1, 2 ...
};

// Scans received a second over the last few scans shown (their seq counts
// the ones between, which a display that redraws less often skips), once
// two intervals are seen: the first stamps can come close together (a
// reply that waited for the display), and one interval alone would show
// hundreds a second.
class ScanRate {
 public:
  double add(std::int64_t stampNs, std::uint64_t seq) {
    stamps_[next_ % kWindow] = stampNs;
    seqs_[next_ % kWindow] = seq;
    ++next_;
    const std::size_t n = std::min(next_, kWindow);
    if (n < 3) return 0;
    const std::int64_t span = stampNs - stamps_[(next_ - n) % kWindow];
    const std::uint64_t scans = seq - seqs_[(next_ - n) % kWindow];
    return span > 0 ? static_cast<double>(scans) * 1e9 / static_cast<double>(span) : 0;
  }

 private:
  static constexpr std::size_t kWindow = 10;
  std::int64_t stamps_[kWindow] = {};
  std::uint64_t seqs_[kWindow] = {};
  std::size_t next_ = 0;
};

// The range step of the rings for a picture `maxRangeM` tall: 0.5, 1, 2 or 5 m,
// so that at most eight rings are drawn.
double ringStep(double maxRangeM);

// Replaces `out` with one frame: the picture, then a status line (sample
// number, time, number of points, the nearest point's range and angle, scan
// rate). It fills `view.rows - 3` rows, leaving room under it for messages.
void formatPlotFrame(std::string& out, const lmsview::Scan& scan, const PlotView& view);

}  // namespace app
