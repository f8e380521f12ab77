// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "app/outputs/output_helpers.h"
#include "app/outputs/sink.h"
#include "lms/protocol/reply.h"
#include "platform/terminal.h"

namespace app {

namespace {

// The bit of dot (dx, dy) in a braille cell (U+2800 + bits).
constexpr std::uint8_t kDotBit[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};

double metres(float m) {
  return static_cast<double>(m);
}

void appendUtf8(std::string& out, unsigned code) {
  out.push_back(static_cast<char>(0xE0 | (code >> 12)));
  out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
}

}  // namespace

BrailleCanvas::BrailleCanvas(int cols, int rows)
    : cols_(std::max(cols, 1)),
      rows_(std::max(rows, 1)),
      dots_(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_), 0),
      text_(dots_.size(), 0) {}

void BrailleCanvas::set(int x, int y) {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return;
  dots_[cell(x / 2, y / 4)] |= kDotBit[y % 4][x % 2];
}

bool BrailleCanvas::isSet(int x, int y) const {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return false;
  return (dots_[cell(x / 2, y / 4)] & kDotBit[y % 4][x % 2]) != 0;
}

void BrailleCanvas::label(int col, int row, const std::string& text) {
  if (row < 0 || row >= rows_) return;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int c = col + static_cast<int>(i);
    if (c >= 0 && c < cols_) text_[cell(c, row)] = text[i];
  }
}

std::string BrailleCanvas::render() const {
  std::string out;
  out.reserve(static_cast<std::size_t>(rows_) * (static_cast<std::size_t>(cols_) * 3 + 1));
  for (int r = 0; r < rows_; ++r) {
    // Trailing empty cells are left out, so a narrow picture stays small.
    int last = cols_ - 1;
    while (last >= 0 && dots_[cell(last, r)] == 0 && text_[cell(last, r)] == 0) --last;
    for (int c = 0; c <= last; ++c) {
      const std::size_t i = cell(c, r);
      if (text_[i] != 0)
        out.push_back(text_[i]);
      else if (dots_[i] == 0)
        out.push_back(' ');
      else
        appendUtf8(out, 0x2800u + dots_[i]);
    }
    out.push_back('\n');
  }
  return out;
}

double ringStep(double maxRangeM) {
  for (const double step : {0.5, 1.0, 2.0, 5.0})
    if (maxRangeM / step <= 8) return step;
  return 10.0;
}

void formatPlotFrame(std::string& out, const lmsview::Scan& scan, const PlotView& view) {
  // A window tens of thousands of cells wide is drawn at a size a person
  // can still look at, not at the size of memory.
  const int rows = std::clamp(view.rows - 3, 2, kMaxPlotRows);  // room for the status line and messages
  const int pictureRows = rows - 1;
  const int cols = std::clamp(view.cols, 10, kMaxPlotCols);
  BrailleCanvas canvas(cols, pictureRows);

  int points = 0;
  double farthest = 0;
  double nearest = 1e9;
  int nearestAt = -1;
  const lmsview::Geometry& g = scan.geometry;
  for (int i = 0; i < static_cast<int>(scan.ranges.size()); ++i) {
    const double r = metres(scan.ranges[static_cast<std::size_t>(i)]);
    if (!lms::isDistance(scan, static_cast<std::size_t>(i))) continue;
    ++points;
    farthest = std::max(farthest, r);
    if (r < nearest) {
      nearest = r;
      nearestAt = i;
    }
  }
  const double range = view.maxRangeM > 0 ? view.maxRangeM : std::max(farthest, 1.0);
  // Braille dots are about square: the half-circle of `range` fits the
  // height and half the width.
  const double cx = canvas.width() / 2.0;
  const double cy = canvas.height() - 1.0;
  const double scale = std::min((canvas.height() - 1) / range, (canvas.width() / 2.0 - 1) / range);
  auto plot = [&](double r, double angle) {
    const double x = cx + r * std::cos(angle) * scale;
    const double y = cy - r * std::sin(angle) * scale;
    canvas.set(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
  };

  // Rings: dots at least four dots apart along the arc (every 3 degrees on
  // the wide ones) read as a faint arc, never as a surface; the label sits
  // where the ring meets the right-hand baseline.
  const double step = ringStep(range);
  int labelEnd = static_cast<int>(cx / 2.0);  // the first column free for a label
  for (double ring = step; ring <= range + 1e-9; ring += step) {
    const double apart = std::max(3 * std::numbers::pi / 180.0, 4.0 / (ring * scale));
    for (double a = 0; a <= std::numbers::pi + 1e-9; a += apart) plot(ring, a);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%gm", ring);
    const int col = std::min(static_cast<int>((cx + ring * scale) / 2.0), cols - length);
    // In a narrow window rings are close: a label that would run into the
    // one before it is left out.
    if (col < labelEnd) continue;
    canvas.label(col, pictureRows - 1, text);
    labelEnd = col + length + 1;
  }
  for (int i = 0; i < static_cast<int>(scan.ranges.size()); ++i) {
    const double r = metres(scan.ranges[static_cast<std::size_t>(i)]);
    if (!lms::isDistance(scan, static_cast<std::size_t>(i)) || r > range)
      continue;  // beyond the scale: clipped
    plot(r, drawingAngle(g, static_cast<std::size_t>(i)));
  }
  canvas.set(static_cast<int>(cx), static_cast<int>(cy));  // the scanner

  out = canvas.render();
  // The status line, cut to the window so it never wraps into a second line.
  std::string line;
  char part[160];
  const std::string time = isoTimeUtc(scan.stamp_ns).substr(11, 12);
  if (nearestAt >= 0)
    std::snprintf(part, sizeof part, "muestra %d  %s  %d points  nearest %.2f m at %.1f deg",
                  static_cast<int>(view.sample), time.c_str(), points, nearest,
                  degreesFromRight(g, static_cast<std::size_t>(nearestAt)));
  else
    std::snprintf(part, sizeof part, "muestra %d  %s  no points", static_cast<int>(view.sample),
                  time.c_str());
  line = part;
  if (view.scansPerSecond > 0) {
    std::snprintf(part, sizeof part, "  %.1f scans/s", view.scansPerSecond);
    line += part;
  }
  std::snprintf(part, sizeof part, "  (ring every %g m)", step);
  line += part;
  if (line.size() > static_cast<std::size_t>(cols)) line.resize(static_cast<std::size_t>(cols));
  out += line;
  out += '\n';
}

namespace {

class PlotSink {
 public:
  explicit PlotSink(const SinkSetup& s)
      : out_(s.out), terminal_(s.terminal), maxRangeM_(s.options.maxRangeM) {}
  // A live picture redraws in place: the cursor would only flicker over it.
  // (Its braille needs a terminal that takes UTF-8, as every message does:
  // the program sets that up once.)
  void begin() {
    if (terminal_) platform::hideCursor(true);
  }
  void end() {
    if (terminal_) platform::hideCursor(false);
  }
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    if (from.index != 0) return {};  // a robot's pictures are its first scanner's
    PlotView view;
    view.maxRangeM = maxRangeM_;
    // The terminal's size at each frame, so a resized window is followed.
    if (!platform::terminalSize(platform::StdStream::Out, &view.cols, &view.rows)) {
      view.cols = 80;
      view.rows = 24;
    }
    view.scansPerSecond = rate_.add(scan.stamp_ns, scan.seq);
    view.sample = shown_++;
    formatPlotFrame(frame_, scan, view);
    if (terminal_) {
      // Home, the frame, then clear what an older, larger frame left below.
      text_ = "\x1b[H";
      for (std::size_t at = 0; at < frame_.size();) {
        const std::size_t end = frame_.find('\n', at);
        text_.append(frame_, at, end - at);
        text_ += "\x1b[K\n";
        at = end + 1;
      }
      text_ += "\x1b[J";
    } else {
      text_ = frame_;
      text_ += '\n';
    }
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  bool terminal_;
  double maxRangeM_;
  ScanRate rate_;
  std::uint64_t shown_ = 0;
  std::string frame_;
  std::string text_;
};

}  // namespace

Sink makePlotSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<PlotSink>(setup));
}

}  // namespace app
