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
#include "platform/clock.h"

namespace app {

namespace {

// The QoS a ROS 2 recorder stores with a topic, so a ROS 2 player offers the
// topic as it was recorded: a sensor topic (keep all, volatile) or /tf_static
// (keep last 1, transient-local, so a reader that comes late gets it).
// Reliable, no deadline, lifespan or lease.
std::string offeredQos(int history, int depth, int durability) {
  const std::string forever = "    sec: 9223372036\n    nsec: 854775807\n";
  return "- history: " + std::to_string(history) + "\n  depth: " + std::to_string(depth) +
         "\n  reliability: 1\n  durability: " + std::to_string(durability) + "\n  deadline:\n" + forever +
         "  lifespan:\n" + forever + "  liveliness: 1\n  liveliness_lease_duration:\n" + forever +
         "  avoid_ros_namespace_conventions: false";
}

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
        writer_("ros2", "lmsview " LMSVIEW_VERSION, s.options.recordCompression) {
    const std::vector<std::pair<std::string, std::string>> qos{{"offered_qos_profiles", offeredQos(3, 0, 2)}};
    const auto scanSchema =
        writer_.addSchema("sensor_msgs/msg/LaserScan", "ros2msg", lms::kLaserScanDefinition);
    const auto pointsSchema =
        writer_.addSchema("sensor_msgs/msg/PointCloud2", "ros2msg", lms::kPointCloud2Definition);
    const auto rawSchema = writer_.addSchema("lmsview/RawScan", "jsonschema", kRawSchema);
    // One scanner's channels: its laser scans, its points, its raw words.
    const auto addScanner = [&](const std::string& topic, const std::string& frameId) {
      Channels c;
      c.frameId = frameId;
      c.scan = writer_.addChannel(scanSchema, topic, "cdr", qos);
      if (s.options.recordPoints) c.points = writer_.addChannel(pointsSchema, topic + "/points", "cdr", qos);
      c.raw = writer_.addChannel(rawSchema, topic + "/raw", "json", {});
      scanners_.push_back(c);
    };
    if (s.robot == nullptr) {
      addScanner(s.options.topic, s.options.frameId);
      return;
    }
    // A robot: each scanner on /NAME/scan, where each sits, the merged
    // cloud and scan in the base frame, and their health.
    robot_ = *s.robot;
    for (const RobotLayout::Scanner& sc : robot_.scanners) addScanner("/" + sc.name + "/scan", sc.frameId);
    tf_ =
        writer_.addChannel(writer_.addSchema("tf2_msgs/msg/TFMessage", "ros2msg", lms::kTfMessageDefinition),
                           "/tf_static", "cdr", {{"offered_qos_profiles", offeredQos(1, 1, 1)}});
    mergedCloud_ = writer_.addChannel(pointsSchema, "/scan/merged", "cdr", qos);
    mergedScan_ = writer_.addChannel(scanSchema, "/scan/merged_scan", "cdr", qos);
    diagnostics_ = writer_.addChannel(
        writer_.addSchema("diagnostic_msgs/msg/DiagnosticArray", "ros2msg", lms::kDiagnosticArrayDefinition),
        "/diagnostics", "cdr", qos);
  }
  void begin() {
    if (tf_) {
      // Where each scanner sits, first in the file.
      std::vector<lms::FramePlacement> frames;
      for (const RobotLayout::Scanner& sc : robot_.scanners) frames.push_back({sc.frameId, sc.pose});
      const std::int64_t now = platform::wallClockNanos();
      add(*tf_, now, lms::tfMessageCdr(now, robot_.baseFrame, frames));
    }
    flush();
  }
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    if (!file_->active()) return {};
    const Channels& c = scanners_[std::min(from.index, scanners_.size() - 1)];
    const lms::LaserScanFields fields = lms::laserScanFields(scan, c.frameId);
    add(c.scan, scan.stamp_ns, lms::laserScanCdr(fields));
    if (c.points) add(*c.points, scan.stamp_ns, lms::pointCloudCdr(fields));
    // The words as they came (before any crop), so a replay is exact.
    lms::scan_json::formatRawWords(from.raw ? *from.raw : scan, &raw_text_);
    add(c.raw, scan.stamp_ns, raw_text_);
    ++inChunk_;
    closeChunkWhenDue(scan.stamp_ns);
    return {};
  }
  void merged(const lmsview::Merged& m) {
    if (!file_->active() || !mergedCloud_) return;
    add(*mergedCloud_, m.scan.stamp_ns, lms::mergedCloudCdr(m, robot_.baseFrame));
    add(*mergedScan_, m.scan.stamp_ns, lms::laserScanCdr(lms::laserScanFields(m.scan, robot_.baseFrame)));
  }
  void health(const Health& h) {
    if (!file_->active() || !diagnostics_) return;
    add(*diagnostics_, h.stampNs, lms::diagnosticArrayCdr(h.stampNs, h.statuses));
    closeChunkWhenDue(h.stampNs);
  }
  void end() {
    writer_.finish();
    flush();
  }
  std::string shortfall() const { return file_->shortfall(written_); }

 private:
  struct Channels {
    std::string frameId;
    std::uint16_t scan = 0, raw = 0;
    std::optional<std::uint16_t> points;
  };

  void add(std::uint16_t channel, std::int64_t stampNs, const std::string& data) {
    const auto t = static_cast<std::uint64_t>(stampNs);
    if (chunkStart_ < 0) chunkStart_ = stampNs;
    writer_.addMessage(channel, t, t, data);
  }
  void closeChunkWhenDue(std::int64_t stampNs) {
    if (stampNs - chunkStart_ >= kChunkNs || writer_.openChunkBytes() >= kChunkBytes) {
      writer_.closeChunk();
      chunkStart_ = -1;
      flush();
    }
  }
  // Hands out what the writer closed; its scans are in the file once written.
  void flush() {
    const std::string bytes = writer_.take();
    if (!bytes.empty() && file_->write(bytes, messages_)) written_ += std::exchange(inChunk_, 0);
  }

  FileOutput* file_;
  std::FILE* messages_;
  lms::mcap::Writer writer_;
  std::vector<Channels> scanners_;
  RobotLayout robot_;
  std::optional<std::uint16_t> tf_, mergedCloud_, mergedScan_, diagnostics_;
  std::int64_t chunkStart_ = -1;
  std::string raw_text_;
  std::uint64_t inChunk_ = 0, written_ = 0;  // scans in the open chunk, and in the file
};

}  // namespace

Sink makeMcapSink(const SinkSetup& setup, FileOutput* file) {
  return sinkOf(std::make_shared<McapSink>(setup, file));
}

}  // namespace app
