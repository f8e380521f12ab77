// SPDX-License-Identifier: Apache-2.0
// --record FILE: every valid scan received, as JSON Lines with its raw
// words, one flushed line a scan (lmssim --replay sends them again).

#include "app/outputs/file_output.h"
#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "lms/formats/scan_json.h"

namespace app {

namespace {

class RecordSink {
 public:
  RecordSink(const SinkSetup& s, FileOutput* file)
      : file_(file), messages_(s.messages), frameId_(s.options.frameId) {}
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    if (!file_->active()) return {};
    // The scan as it came, before any crop: a replay sends what the scanner sent.
    lms::scan_json::formatLine(line_, from.raw ? *from.raw : scan,
                               from.frameId.empty() ? frameId_ : from.frameId, true);
    if (file_->write(line_, messages_)) ++written_;
    return {};
  }
  std::string shortfall() const { return file_->shortfall(written_); }

 private:
  FileOutput* file_;
  std::FILE* messages_;
  std::string frameId_;
  std::string line_;
  std::uint64_t written_ = 0;
};

}  // namespace

Sink makeRecordSink(const SinkSetup& setup, FileOutput* file) {
  return sinkOf(std::make_shared<RecordSink>(setup, file));
}

}  // namespace app
