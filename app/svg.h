#pragma once

// The latest scan as an SVG picture that any browser shows: one dot a valid
// range, an outline joining neighbouring valid points, range rings labelled
// in metres, spokes every 30 degrees, and a title with the sample number and
// time. Top-down, the scanner at the bottom centre, as the terminal view.

#include <string>

#include "app/scan_formats.h"

namespace app {

// Picture geometry, in SVG user units (pixels).
inline constexpr double kSvgWidth = 800;
inline constexpr double kSvgHeight = 460;
inline constexpr double kSvgOriginX = 400;
inline constexpr double kSvgOriginY = 420;
inline constexpr double kSvgRadius = 380;  // the picture's range, in pixels

// The SVG document. `maxRangeM` fixes the scale (0: the farthest valid range).
std::string scanSvg(const ShownScan& scan, double maxRangeM = 0);

// --svg FILE: each picture replaces FILE whole (see platform::replaceFile),
// so a viewer never reads half of one. A picture that cannot be written is
// skipped and the next scan tries again; the first failure of a run of them
// is reported. The run goes on.
class SvgFile {
 public:
  explicit SvgFile(std::string path) : path_(std::move(path)) {}
  bool active() const { return true; }
  void write(const std::string& svg, std::FILE* messages);

 private:
  std::string path_;
  bool failing_ = false;
};

}  // namespace app
