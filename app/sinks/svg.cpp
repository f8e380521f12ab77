// --svg FILE: after each scan shown, FILE holds its picture, replaced whole.

#include "app/svg.h"
#include "app/cli.h"
#include "app/sinks/file_output.h"
#include "app/sinks/sink.h"

namespace app {

namespace {

class SvgSink {
 public:
  explicit SvgSink(const SinkSetup& s)
      : file_("--svg", s.options.svgPath), messages_(s.messages), maxRangeM_(s.options.maxRangeM) {}
  std::error_code write(const lmsview::Scan& scan) {
    file_.replace(scanSvg(scan, maxRangeM_), messages_);
    return {};  // a picture that cannot be written does not end the run
  }

 private:
  FileOutput file_;
  std::FILE* messages_;
  double maxRangeM_;
};

}  // namespace

Sink makeSvgSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<SvgSink>(setup));
}

}  // namespace app
