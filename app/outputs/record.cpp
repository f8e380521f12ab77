// --record FILE: every valid scan received, as JSON Lines with its raw
// words, one flushed line a scan (lmssim --replay sends them again).

#include "app/outputs/file_output.h"
#include "app/outputs/jsonl.h"
#include "app/outputs/sink.h"
#include "app/run_options.h"

namespace app {

namespace {

class RecordSink {
 public:
  RecordSink(const SinkSetup& s, FileOutput* file)
      : file_(file), messages_(s.messages), frameId_(s.options.frameId) {}
  std::error_code write(const lmsview::Scan& scan) {
    if (!file_->active()) return {};
    formatJsonLine(line_, scan, frameId_, true);
    file_->write(line_, messages_);
    return {};
  }

 private:
  FileOutput* file_;
  std::FILE* messages_;
  std::string frameId_;
  std::string line_;
};

}  // namespace

Sink makeRecordSink(const SinkSetup& setup, FileOutput* file) {
  return sinkOf(std::make_shared<RecordSink>(setup, file));
}

}  // namespace app
