// --format csv: a header line, then one line a scan.

#include "app/scan_formats.h"
#include "app/sinks/sink.h"
#include "lms/protocol/reply.h"

namespace app {

namespace {

class CsvSink {
 public:
  explicit CsvSink(const SinkSetup& s) : out_(s.out) {}
  std::error_code write(const lmsview::Scan& scan) {
    if (!headerDone_) {
      // The header goes out with the first line, in the same write.
      formatCsvHeader(text_, lms::kScanPoints);
      formatCsvRow(row_, scan);
      text_ += row_;
      headerDone_ = true;
    } else {
      formatCsvRow(text_, scan);
    }
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  bool headerDone_ = false;
  std::string text_;
  std::string row_;
};

}  // namespace

Sink makeCsvSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<CsvSink>(setup));
}

}  // namespace app
