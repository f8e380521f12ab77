// SPDX-License-Identifier: Apache-2.0
#pragma once

// What happened on a link, worded once: the one line of each event the
// acquisition reports. Every face shows this line (lmsview writes its own
// name before it); events worded where they happen (an open that failed,
// a link lost, units that differ) keep the text they carry.

#include <string>

#include "lmsview/scan.h"

namespace lms {

std::string eventText(const lmsview::Event& e);

}  // namespace lms
