// SPDX-License-Identifier: Apache-2.0
#pragma once

// --svg FILE: after each scan shown, FILE holds its picture, replaced whole:
// an SVG picture that any browser shows, one dot a valid range, an outline
// joining neighbouring valid points, range rings labelled in metres, spokes
// every 30 degrees, and a title with the sample number and time. Top-down,
// the scanner at the bottom centre, as the terminal view.

#include <string>

#include "lmsview/scanner.h"

namespace app {

// Picture geometry, in SVG user units (pixels).
inline constexpr double kSvgWidth = 800;
inline constexpr double kSvgHeight = 460;
inline constexpr double kSvgOriginX = 400;
inline constexpr double kSvgOriginY = 420;
inline constexpr double kSvgRadius = 380;  // the picture's range, in pixels

// The SVG document. `maxRangeM` fixes the scale (0: the farthest valid range).
std::string scanSvg(const lmsview::Scan& scan, double maxRangeM = 0);

}  // namespace app
