// --format jsonl: one laser-scan object a line.

#include "app/outputs/jsonl.h"

#include "app/outputs/sink.h"
#include "app/outputs/text.h"
#include "app/run_options.h"
#include "lms/formats/laser_scan.h"

namespace app {

void formatJsonLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords) {
  out.clear();
  out += "{\"seq\":";
  putInt(out, static_cast<long long>(scan.seq));
  std::int32_t sec = 0;
  std::uint32_t nanosec = 0;
  lms::splitStamp(scan.stamp_ns, &sec, &nanosec);
  out += ",\"stamp\":{\"sec\":";
  putInt(out, sec);
  out += ",\"nanosec\":";
  putInt(out, nanosec);
  out += "},\"received_ns\":";
  putInt(out, scan.received_ns);
  out += ",\"frame_id\":";
  putJsonString(out, frameId);
  const lmsview::Geometry& g = scan.geometry;
  out += ",\"angle_min\":";
  putDouble(out, g.angle_min);
  out += ",\"angle_max\":";
  putDouble(out, g.angle_max());
  out += ",\"angle_increment\":";
  putDouble(out, g.angle_increment);
  out += ",\"time_increment\":0,\"scan_time\":0,\"range_min\":";
  putDouble(out, g.range_min);
  out += ",\"range_max\":";
  putDouble(out, g.range_max);
  out += ",\"ranges\":";
  putRangesJson(out, scan);
  out += ",\"intensities\":[]";
  if (withWords) {
    out += ",\"words\":[";
    for (std::size_t i = 0; i < scan.words.size(); ++i) {
      if (i > 0) out.push_back(',');
      putInt(out, scan.words[i]);
    }
    out.push_back(']');
  }
  out += "}\n";
}

namespace {

class JsonlSink {
 public:
  explicit JsonlSink(const SinkSetup& s) : out_(s.out), frameId_(s.options.frameId) {}
  std::error_code write(const lmsview::Scan& scan) {
    formatJsonLine(text_, scan, frameId_, false);
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
