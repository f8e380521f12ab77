// SPDX-License-Identifier: Apache-2.0
#include "sim/scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

std::uint32_t mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

Scene::Scene(std::uint32_t seed) : seed_(seed) {
  left_ = 1800.0 + mix(seed) % 1500;
  right_ = 2000.0 + mix(seed + 1) % 1500;
  back_ = 3500.0 + mix(seed + 2) % 3000;
  phase_ = (mix(seed + 3) % 628) / 100.0;
  behind_ = 1500.0 + mix(seed + 4) % 1000;  // seen only by a scanner that turns round
}

void Scene::place(double x, double y, double yawDeg) {
  x_ = x * 1000.0;
  y_ = y * 1000.0;
  yaw_ = yawDeg * std::numbers::pi / 180.0;
}

RangeWords Scene::scan(std::int64_t index, int points, int perMetre) const {
  const lms::Variant* variant = lms::variantOf(points);
  const double field = variant ? variant->fieldDegrees : 180.0;
  const double step = variant ? variant->resolutionHundredths / 100.0 : 180.0 / std::max(points - 1, 1);
  RangeWords words(static_cast<std::size_t>(std::max(points, 0)));
  const double t = static_cast<double>(index) * 0.15 + phase_;
  const double ox = 900.0 * std::sin(t);  // object centre, millimetres
  const double oy = 0.55 * back_ + 400.0 * std::cos(t * 0.7);
  const double radius = 250.0;
  for (int i = 0; i < points; ++i) {
    // Degrees from the scanner's right (the field is centred on straight
    // ahead), turned by its heading. The room's own axes: dx to the right
    // of the far wall, dy towards it; the scanner stands at (px, py).
    const double a = ((180.0 - field) / 2 + i * step) * std::numbers::pi / 180.0 + yaw_;
    const double dx = std::cos(a);
    const double dy = std::sin(a);
    const double px = -y_, py = x_;
    double d = 8191.0;
    if (dx > 1e-9) d = std::min(d, (right_ - px) / dx);
    if (dx < -1e-9) d = std::min(d, (left_ + px) / -dx);
    if (dy > 1e-9) d = std::min(d, (back_ - py) / dy);
    if (dy < -1e-9) d = std::min(d, (behind_ + py) / -dy);
    // Ray against the object's circle.
    const double b = dx * (ox - px) + dy * (oy - py);
    const double c = (ox - px) * (ox - px) + (oy - py) * (oy - py) - radius * radius;
    const double disc = b * b - c;
    if (disc >= 0) {
      const double hit = b - std::sqrt(disc);
      if (hit > 0) d = std::min(d, hit);
    }
    const std::uint32_t h = mix(seed_ ^ static_cast<std::uint32_t>(index * 7919 + i));
    d += static_cast<double>(h % 11) - 5.0;  // a little measurement noise
    // The room is measured in millimetres; a scanner set to centimetres says a tenth.
    int raw =
        static_cast<int>(std::lround(std::clamp(perMetre == 1000 ? d : d * perMetre / 1000.0, 0.0, 8191.0)));
    std::uint16_t w = static_cast<std::uint16_t>(raw);
    if ((i + index) % 37 == 0) w = static_cast<std::uint16_t>(w | ((h >> 8) & 0x7) << 13);
    words[static_cast<std::size_t>(i)] = w;
  }
  return words;
}

}  // namespace sim
