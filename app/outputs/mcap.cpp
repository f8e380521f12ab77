// SPDX-License-Identifier: Apache-2.0
// --record FILE.mcap: every valid scan received as a ROS 2 laser-scan message
// on --topic (default /scan), as a point cloud on TOPIC/points (unless
// --record-points off), and its raw range words on TOPIC/raw, in an
// MCAP recording that the robotics tools open. A chunk closes at least once
// a second, so a killed run leaves all but the last second readable; the
// summary is written at the end of the run.

#include <optional>
#include <string>

#include "app/outputs/file_output.h"
#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "lms/formats/scan_json.h"

namespace app {

namespace {

// The QoS a ROS 2 recorder stores for a sensor topic, so a ROS 2 player
// offers the topic as it was recorded.
constexpr std::string_view kOfferedQos =
    "- history: 3\n"
    "  depth: 0\n"
    "  reliability: 1\n"
    "  durability: 2\n"
    "  deadline:\n"
    "    sec: 9223372036\n"
    "    nsec: 854775807\n"
    "  lifespan:\n"
    "    sec: 9223372036\n"
    "    nsec: 854775807\n"
    "  liveliness: 1\n"
    "  liveliness_lease_duration:\n"
    "    sec: 9223372036\n"
    "    nsec: 854775807\n"
    "  avoid_ros_namespace_conventions: false";

constexpr std::string_view kRawSchema =
    R"({"title":"lmsview/RawScan","description":"The raw range words of one measurement reply, flag bits )"
    R"(included; word i belongs to range i of the laser scan with the same stamp","type":"object","properties":{"seq":{"type":"integer"},)"
    R"("stamp":{"type":"object","properties":{"sec":{"type":"integer"},"nanosec":{"type":"integer"}}},)"
    R"("range_max":{"type":"number"},"range_unit":{"type":"string","enum":["mm","cm","dm"]},)"
    R"("words":{"type":"array","items":{"type":"integer","minimum":0,"maximum":65535}}}})";

constexpr std::int64_t kChunkNs = 1'000'000'000;
constexpr std::size_t kChunkBytes = 1 << 20;

class McapSink {
 public:
  McapSink(const SinkSetup& s, FileOutput* file)
      : file_(file),
        messages_(s.messages),
        frameId_(s.options.frameId),
        writer_("ros2", "lmsview " LMSVIEW_VERSION, s.options.recordCompression) {
    const std::vector<std::pair<std::string, std::string>> qos{
        {"offered_qos_profiles", std::string(kOfferedQos)}};
    const auto scanSchema =
        writer_.addSchema("sensor_msgs/msg/LaserScan", "ros2msg", lms::kLaserScanDefinition);
    scan_ = writer_.addChannel(scanSchema, s.options.topic, "cdr", qos);
    if (s.options.recordPoints) {
      const auto pointsSchema =
          writer_.addSchema("sensor_msgs/msg/PointCloud2", "ros2msg", lms::kPointCloud2Definition);
      points_ = writer_.addChannel(pointsSchema, s.options.topic + "/points", "cdr", qos);
    }
    const auto rawSchema = writer_.addSchema("lmsview/RawScan", "jsonschema", kRawSchema);
    raw_ = writer_.addChannel(rawSchema, s.options.topic + "/raw", "json", {});
  }
  void begin() { flush(); }
  std::error_code write(const lmsview::Scan& scan) {
    if (!file_->active()) return {};
    const lms::LaserScanFields fields = lms::laserScanFields(scan, frameId_);
    const auto t = static_cast<std::uint64_t>(scan.stamp_ns);
    if (chunkStart_ < 0) chunkStart_ = scan.stamp_ns;
    writer_.addMessage(scan_, t, t, lms::laserScanCdr(fields));
    if (points_) writer_.addMessage(*points_, t, t, lms::pointCloudCdr(fields));
    lms::scan_json::formatRawWords(scan, &raw_text_);
    writer_.addMessage(raw_, t, t, raw_text_);
    ++inChunk_;
    if (scan.stamp_ns - chunkStart_ >= kChunkNs || writer_.openChunkBytes() >= kChunkBytes) {
      writer_.closeChunk();
      chunkStart_ = -1;
      flush();
    }
    return {};
  }
  void end() {
    writer_.finish();
    flush();
  }
  std::string shortfall() const { return file_->shortfall(written_); }

 private:
  // Hands out what the writer closed; its scans are in the file once written.
  void flush() {
    const std::string bytes = writer_.take();
    if (!bytes.empty() && file_->write(bytes, messages_)) written_ += std::exchange(inChunk_, 0);
  }

  FileOutput* file_;
  std::FILE* messages_;
  std::string frameId_;
  lms::mcap::Writer writer_;
  std::uint16_t scan_ = 0, raw_ = 0;
  std::optional<std::uint16_t> points_;
  std::int64_t chunkStart_ = -1;
  std::string raw_text_;
  std::uint64_t inChunk_ = 0, written_ = 0;  // scans in the open chunk, and in the file
};

}  // namespace

Sink makeMcapSink(const SinkSetup& setup, FileOutput* file) {
  return sinkOf(std::make_shared<McapSink>(setup, file));
}

}  // namespace app
