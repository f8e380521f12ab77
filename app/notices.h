// SPDX-License-Identifier: Apache-2.0
#pragma once

// The console's words for what the library reports: where its message lines
// go, and the notices on standard error for what happened on the link,
// chosen from each event's typed fields.

#include <cstdio>
#include <string>

#include "lmsview/scanner.h"
#include "transport/message_sink.h"

namespace app {

// Each line to `to`, flushed at once: several threads write to one terminal.
// nullptr gives a silent sink.
transport::MessageSink linesTo(std::FILE* to);

// The line for standard error ("lmsview: ..."), or "" when an event needs
// none. `serial`: the link is a serial line (a silent one may be at another rate).
std::string noticeText(const lmsview::Event& event, bool serial);

}  // namespace app
