// --format table: a table of angle and range a scan; on a terminal each
// replaces the last, elsewhere they follow each other.

#include "app/sinks/sink.h"
#include "app/table_format.h"
#include "lms/protocol/reply.h"

namespace app {

namespace {

class TableSink {
 public:
  explicit TableSink(const SinkSetup& s) : out_(s.out), clear_(s.terminal) { text_.reserve(64 * 1024); }
  std::error_code write(const lmsview::Scan& scan) {
    // The table's centimetres are the raw range / 10, as decoding gives them.
    for (std::size_t i = 0; i < lmsview::Scan::points; ++i)
      centimetres_[i] = static_cast<float>((scan.words[i] & 0x1FFF) / 10.0);
    formatScanTable(text_, static_cast<int>(scan.seq), centimetres_, lms::kAngleTable.data(),
                    lms::kScanPoints, clear_);
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  bool clear_;
  float centimetres_[lmsview::Scan::points] = {};
  std::string text_;
};

}  // namespace

Sink makeTableSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<TableSink>(setup));
}

}  // namespace app
