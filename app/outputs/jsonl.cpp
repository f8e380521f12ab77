// SPDX-License-Identifier: Apache-2.0
// --format jsonl: one laser-scan object a line.

#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "lms/formats/scan_json.h"

namespace app {

namespace {

class JsonlSink {
 public:
  explicit JsonlSink(const SinkSetup& s) : out_(s.out), frameId_(s.options.frameId) {}
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    // A robot's scanners each have their own frame.
    lms::scan_json::formatLine(text_, scan, from.frameId.empty() ? frameId_ : from.frameId, false);
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  std::string frameId_;
  std::string text_;
};

}  // namespace

Sink makeJsonlSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<JsonlSink>(setup));
}

}  // namespace app
