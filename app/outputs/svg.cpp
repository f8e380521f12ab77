// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <system_error>

#include "app/outputs/file_output.h"
#include "app/outputs/output_helpers.h"
#include "app/outputs/plot.h"
#include "app/outputs/sink.h"
#include "lms/protocol/reply.h"

namespace app {

namespace {

void num(std::string& out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  out += buf;
}

}  // namespace

namespace {

// Where a range and an angle land in the picture.
struct Geometry {
  double range;  // metres at the picture's edge
  double scale;  // pixels a metre
  double x(double r, double a) const { return kSvgOriginX + r * std::cos(a) * scale; }
  double y(double r, double a) const { return kSvgOriginY - r * std::sin(a) * scale; }
};

// Range rings with their labels, and spokes every 30 degrees with theirs.
void appendGrid(std::string& s, const Geometry& g) {
  s += "<g fill=\"none\" stroke=\"#ccc\">\n";
  const double step = ringStep(g.range);
  for (double ring = step; ring <= g.range + 1e-9; ring += step) {
    s += "<path d=\"M";
    num(s, g.x(ring, 0));
    s += ' ';
    num(s, kSvgOriginY);
    s += " A";
    num(s, ring * g.scale);
    s += ' ';
    num(s, ring * g.scale);
    s += " 0 0 0 ";
    num(s, g.x(ring, std::numbers::pi));
    s += ' ';
    num(s, kSvgOriginY);
    s += "\"/>\n";
  }
  for (int deg = 0; deg <= 180; deg += 30) {
    const double a = deg * std::numbers::pi / 180.0;
    s += "<line x1=\"400\" y1=\"420\" x2=\"";
    num(s, g.x(g.range, a));
    s += "\" y2=\"";
    num(s, g.y(g.range, a));
    s += "\"/>\n";
  }
  s += "</g>\n<g fill=\"#888\">\n";
  for (double ring = step; ring <= g.range + 1e-9; ring += step) {
    char label[24];
    std::snprintf(label, sizeof label, "%g m", ring);
    s += "<text x=\"";
    num(s, g.x(ring, 0) + 2);
    s += "\" y=\"436\">";
    s += label;
    s += "</text>\n";
  }
  for (int deg = 0; deg <= 180; deg += 30) {
    const double a = deg * std::numbers::pi / 180.0;
    s += "<text text-anchor=\"middle\" x=\"";
    num(s, std::clamp(g.x(g.range * 1.04, a), 16.0, kSvgWidth - 16));
    s += "\" y=\"";
    num(s, std::min(g.y(g.range * 1.04, a), kSvgOriginY + 14));
    s += "\">";
    s += std::to_string(deg);
    s += "&#176;</text>\n";
  }
  s += "</g>\n";
}

// The outline joining neighbouring valid points (a gap breaks it), then the points.
void appendPoints(std::string& s, const lmsview::Scan& scan, const Geometry& g) {
  auto drawn = [&](std::size_t i) { return lms::isDistance(scan, i) && scan.ranges[i] <= g.range; };
  s += "<path fill=\"none\" stroke=\"#36c\" stroke-width=\"1\" d=\"";
  bool drawing = false;
  for (std::size_t i = 0; i < scan.ranges.size(); ++i) {
    if (!drawn(i)) {
      drawing = false;
      continue;
    }
    const double a = drawingAngle(scan.geometry, i);
    s += drawing ? " L" : " M";
    num(s, g.x(scan.ranges[i], a));
    s += ' ';
    num(s, g.y(scan.ranges[i], a));
    drawing = true;
  }
  s += "\"/>\n<g fill=\"#c33\">\n";
  for (std::size_t i = 0; i < scan.ranges.size(); ++i) {
    if (!drawn(i)) continue;
    const double a = drawingAngle(scan.geometry, i);
    s += "<circle class=\"point\" r=\"1.8\" cx=\"";
    num(s, g.x(scan.ranges[i], a));
    s += "\" cy=\"";
    num(s, g.y(scan.ranges[i], a));
    s += "\"/>\n";
  }
  s += "</g>\n";
}

}  // namespace

std::string scanSvg(const lmsview::Scan& scan, double maxRangeM) {
  double farthest = 0;
  for (std::size_t i = 0; i < scan.ranges.size(); ++i)
    if (lms::isDistance(scan, i)) farthest = std::max(farthest, static_cast<double>(scan.ranges[i]));
  const double range = maxRangeM > 0 ? maxRangeM : std::max(farthest, 1.0);
  const Geometry g{range, kSvgRadius / range};

  std::string s;
  s.reserve(48 * 1024);
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"460\" viewBox=\"0 0 800 460\" "
       "font-family=\"sans-serif\" font-size=\"12\">\n";
  const std::string title = "lmsview muestra " + std::to_string(scan.seq) + " " + isoTimeUtc(scan.stamp_ns);
  s += "<title>";
  s += title;
  s += "</title>\n";
  s += "<rect width=\"800\" height=\"460\" fill=\"white\"/>\n";
  appendGrid(s, g);
  appendPoints(s, scan, g);
  s += "<circle cx=\"400\" cy=\"420\" r=\"4\" fill=\"black\"/>\n";
  s += "<text x=\"10\" y=\"18\" font-size=\"14\">";
  s += title;
  s += "</text>\n";
  s += "</svg>\n";
  return s;
}

namespace {

class SvgSink {
 public:
  explicit SvgSink(const SinkSetup& s)
      : file_("--svg", s.options.svgPath), messages_(s.messages), maxRangeM_(s.options.maxRangeM) {}
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    if (from.index != 0) return {};  // a robot's pictures are its first scanner's
    file_.replace(scanSvg(scan, maxRangeM_), messages_);
    return {};  // a picture that cannot be written does not end the run
  }
  std::string shortfall() const { return file_.shortfall(); }

 private:
  FileOutput file_;
  std::FILE* messages_;
  double maxRangeM_;
};

}  // namespace

Sink makeSvgSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<SvgSink>(setup));
}

}  // namespace app
