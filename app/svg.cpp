#include "app/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <system_error>

#include "app/plot.h"

namespace app {

namespace {

void num(std::string& out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  out += buf;
}

}  // namespace

std::string scanSvg(const lmsview::Scan& scan, double maxRangeM) {
  double farthest = 0;
  for (int i = 0; i < static_cast<int>(scan.ranges.size()); ++i) {
    const double r = scan.ranges[static_cast<std::size_t>(i)];
    if (isDrawableRange(r)) farthest = std::max(farthest, r);
  }
  const double range = maxRangeM > 0 ? maxRangeM : std::max(farthest, 1.0);
  const double scale = kSvgRadius / range;
  auto x = [&](double r, double a) { return kSvgOriginX + r * std::cos(a) * scale; };
  auto y = [&](double r, double a) { return kSvgOriginY - r * std::sin(a) * scale; };

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
  // Rings and their labels.
  s += "<g fill=\"none\" stroke=\"#ccc\">\n";
  const double step = ringStep(range);
  for (double ring = step; ring <= range + 1e-9; ring += step) {
    s += "<path d=\"M";
    num(s, x(ring, 0));
    s += ' ';
    num(s, kSvgOriginY);
    s += " A";
    num(s, ring * scale);
    s += ' ';
    num(s, ring * scale);
    s += " 0 0 0 ";
    num(s, x(ring, std::numbers::pi));
    s += ' ';
    num(s, kSvgOriginY);
    s += "\"/>\n";
  }
  // Spokes every 30 degrees.
  for (int deg = 0; deg <= 180; deg += 30) {
    const double a = deg * std::numbers::pi / 180.0;
    s += "<line x1=\"400\" y1=\"420\" x2=\"";
    num(s, x(range, a));
    s += "\" y2=\"";
    num(s, y(range, a));
    s += "\"/>\n";
  }
  s += "</g>\n<g fill=\"#888\">\n";
  for (double ring = step; ring <= range + 1e-9; ring += step) {
    char label[24];
    std::snprintf(label, sizeof label, "%g m", ring);
    s += "<text x=\"";
    num(s, x(ring, 0) + 2);
    s += "\" y=\"436\">";
    s += label;
    s += "</text>\n";
  }
  for (int deg = 0; deg <= 180; deg += 30) {
    const double a = deg * std::numbers::pi / 180.0;
    s += "<text text-anchor=\"middle\" x=\"";
    num(s, std::clamp(x(range * 1.04, a), 16.0, kSvgWidth - 16));
    s += "\" y=\"";
    num(s, std::min(y(range * 1.04, a), kSvgOriginY + 14));
    s += "\">";
    s += std::to_string(deg);
    s += "&#176;</text>\n";
  }
  s += "</g>\n";
  // The outline joins neighbouring valid points; a gap breaks it.
  s += "<path fill=\"none\" stroke=\"#36c\" stroke-width=\"1\" d=\"";
  bool drawing = false;
  for (int i = 0; i < static_cast<int>(scan.ranges.size()); ++i) {
    const double r = scan.ranges[static_cast<std::size_t>(i)];
    const double a = i * std::numbers::pi / 360.0;
    if (!isDrawableRange(r) || r > range) {
      drawing = false;
      continue;
    }
    s += drawing ? " L" : " M";
    num(s, x(r, a));
    s += ' ';
    num(s, y(r, a));
    drawing = true;
  }
  s += "\"/>\n<g fill=\"#c33\">\n";
  for (int i = 0; i < static_cast<int>(scan.ranges.size()); ++i) {
    const double r = scan.ranges[static_cast<std::size_t>(i)];
    const double a = i * std::numbers::pi / 360.0;
    if (!isDrawableRange(r) || r > range) continue;
    s += "<circle class=\"point\" r=\"1.8\" cx=\"";
    num(s, x(r, a));
    s += "\" cy=\"";
    num(s, y(r, a));
    s += "\"/>\n";
  }
  s += "</g>\n<circle cx=\"400\" cy=\"420\" r=\"4\" fill=\"black\"/>\n";
  s += "<text x=\"10\" y=\"18\" font-size=\"14\">";
  s += title;
  s += "</text>\n";
  s += "</svg>\n";
  return s;
}

}  // namespace app
