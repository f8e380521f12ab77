// --format plot: a top-down picture of each scan; on a terminal it redraws
// in place at the window's size, elsewhere the frames follow each other.

#include "app/plot.h"
#include "app/cli.h"
#include "app/sinks/sink.h"
#include "platform/terminal.h"

namespace app {

namespace {

class PlotSink {
 public:
  explicit PlotSink(const SinkSetup& s)
      : out_(s.out), terminal_(s.terminal), maxRangeM_(s.options.maxRangeM) {}
  // A live picture redraws in place: the cursor would only flicker over it,
  // and the braille needs a terminal that takes UTF-8.
  void begin() {
    if (!terminal_) return;
    platform::useUtf8Output(true);
    platform::hideCursor(true);
  }
  void end() {
    if (!terminal_) return;
    platform::hideCursor(false);
    platform::useUtf8Output(false);
  }
  std::error_code write(const lmsview::Scan& scan) {
    PlotView view;
    view.maxRangeM = maxRangeM_;
    // The terminal's size at each frame, so a resized window is followed.
    if (!platform::terminalSize(platform::StdStream::Out, &view.cols, &view.rows)) {
      view.cols = 80;
      view.rows = 24;
    }
    view.scansPerSecond = rate_.add(scan.stamp_ns);
    formatPlotFrame(frame_, scan, view);
    if (terminal_) {
      // Home, the frame, then clear what an older, larger frame left below.
      text_ = "\x1b[H";
      for (std::size_t at = 0; at < frame_.size();) {
        const std::size_t end = frame_.find('\n', at);
        text_.append(frame_, at, end - at);
        text_ += "\x1b[K\n";
        at = end + 1;
      }
      text_ += "\x1b[J";
    } else {
      text_ = frame_;
      text_ += '\n';
    }
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  bool terminal_;
  double maxRangeM_;
  ScanRate rate_;
  std::string frame_;
  std::string text_;
};

}  // namespace

Sink makePlotSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<PlotSink>(setup));
}

}  // namespace app
