// SPDX-License-Identifier: Apache-2.0
// A robot's topics on Cyclone DDS (see robot_writer.h).

#include "ros2/robot_writer.h"

#include <dds/dds.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "ros2/dds_parts.h"
#include "ros2/robot.h"

namespace lms {

using lmsview::errc;
using namespace dds_parts;

namespace {

// A text field the write only reads.
char* text(const std::string& s) {
  return const_cast<char*>(s.c_str());
}

std_msgs_msg_dds__Header_ header(std::int64_t stampNs, const std::string& frame) {
  std_msgs_msg_dds__Header_ h{};
  splitStamp(stampNs, &h.stamp.sec, &h.stamp.nanosec);
  h.frame_id = text(frame);
  return h;
}

}  // namespace

struct Ros2RobotWriter::Impl {
  Options options;
  std::string detail;
  Entity participant;
  dds_entity_t frames = 0, cloud = 0, scan = 0, diagnostics = 0;  // held by the participant

  std::mutex mutex;
  std::condition_variable wake;
  lmsview::Merged pending;
  bool full = false;
  bool running = false;
  bool stopping = false;
  std::thread thread;

  void run() {
    lmsview::Merged merged;
    std::vector<std::uint8_t> data;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return full || stopping; });
        if (stopping) return;
        std::swap(merged, pending);
        full = false;
      }
      writeMerged(merged, data);
    }
  }

  void writeMerged(const lmsview::Merged& m, std::vector<std::uint8_t>& data) {
    const std::int64_t stamp = m.scan.stamp_ns;
    // The cloud: x, y, z float32 and the scanner uint32, as mergedCloudCdr lays them out.
    data.resize(m.points.size() * 16);
    for (std::size_t i = 0; i < m.points.size(); ++i) {
      const lmsview::MergedPoint& p = m.points[i];
      std::memcpy(&data[i * 16], &p.x, 4);
      std::memcpy(&data[i * 16 + 4], &p.y, 4);
      std::memcpy(&data[i * 16 + 8], &p.z, 4);
      std::memcpy(&data[i * 16 + 12], &p.scanner, 4);
    }
    static const std::string kNames[] = {"x", "y", "z", "scanner"};
    sensor_msgs_msg_dds__PointField_ fields[4]{};
    for (std::uint32_t k = 0; k < 4; ++k)
      fields[k] = {text(kNames[k]), k * 4, static_cast<std::uint8_t>(k < 3 ? 7 : 6), 1};  // FLOAT32, UINT32
    sensor_msgs_msg_dds__PointCloud2_ cloudMsg{};
    cloudMsg.header = header(stamp, options.baseFrame);
    cloudMsg.height = 1;
    cloudMsg.width = static_cast<std::uint32_t>(m.points.size());
    cloudMsg.fields._maximum = cloudMsg.fields._length = 4;
    cloudMsg.fields._buffer = fields;
    cloudMsg.is_bigendian = false;
    cloudMsg.point_step = 16;
    cloudMsg.row_step = static_cast<std::uint32_t>(data.size());
    cloudMsg.data._maximum = cloudMsg.data._length = static_cast<std::uint32_t>(data.size());
    cloudMsg.data._buffer = data.data();
    cloudMsg.is_dense = true;
    dds_write(cloud, &cloudMsg);
    const LaserScanFields f = laserScanFields(m.scan, options.baseFrame);
    sensor_msgs_msg_dds__LaserScan_ scanMsg{};
    scanMsg.header = header(stamp, options.baseFrame);
    scanMsg.angle_min = f.angleMin;
    scanMsg.angle_max = f.angleMax;
    scanMsg.angle_increment = f.angleIncrement;
    scanMsg.range_min = f.rangeMin;
    scanMsg.range_max = f.rangeMax;
    scanMsg.ranges._maximum = scanMsg.ranges._length = static_cast<std::uint32_t>(m.scan.ranges.size());
    scanMsg.ranges._buffer = const_cast<float*>(m.scan.ranges.data());
    dds_write(scan, &scanMsg);
  }
};

Ros2RobotWriter::Ros2RobotWriter(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

Ros2RobotWriter::~Ros2RobotWriter() {
  close();
}

errc Ros2RobotWriter::open() {
  Impl& d = *impl_;
  if (d.participant.id > 0) return errc::already_open;
  d.detail.clear();
  CaughtLog log;
  Entity participant;
  if (const errc joined = joinDomain(d.options.domain, log, &participant, &d.detail); joined != errc{})
    return joined;
  const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  // As ROS 2 has them: /tf_static reliable, transient-local, the last one;
  // the others as a sensor topic (reliable, volatile, the last 5).
  const auto makeWriter = [&](const dds_topic_descriptor_t* type, const char* name, bool latched) {
    const dds_entity_t topic = dds_create_topic(participant.id, type, name, nullptr, nullptr);
    if (topic < 0) return topic;
    Qos qos;
    dds_qset_reliability(qos.q, DDS_RELIABILITY_RELIABLE, DDS_MSECS(20));
    dds_qset_durability(qos.q, latched ? DDS_DURABILITY_TRANSIENT_LOCAL : DDS_DURABILITY_VOLATILE);
    dds_qset_history(qos.q, DDS_HISTORY_KEEP_LAST, latched ? 1 : 5);
    dds_qset_data_representation(qos.q, 1, &xcdr1);
    return dds_create_writer(participant.id, topic, qos.q, nullptr);
  };
  d.frames = makeWriter(&tf2_msgs_msg_dds__TFMessage__desc, "rt/tf_static", true);
  d.cloud = makeWriter(&sensor_msgs_msg_dds__PointCloud2__desc, "rt/scan/merged", false);
  d.scan = makeWriter(&sensor_msgs_msg_dds__LaserScan__desc, "rt/scan/merged_scan", false);
  d.diagnostics = makeWriter(&diagnostic_msgs_msg_dds__DiagnosticArray__desc, "rt/diagnostics", false);
  for (const dds_entity_t w : {d.frames, d.cloud, d.scan, d.diagnostics})
    if (w < 0) return ddsFailed("DDS could not make a robot topic's writer", w, log, &d.detail);
  d.participant.id = std::exchange(participant.id, 0);
  {
    std::lock_guard lock(d.mutex);
    d.stopping = false;
    d.running = true;
  }
  d.thread = std::thread([&d] { d.run(); });
  return errc{};
}

std::string Ros2RobotWriter::detail() const {
  return impl_->detail;
}

void Ros2RobotWriter::publishFrames(std::int64_t stampNs, const std::vector<FramePlacement>& frames) {
  Impl& d = *impl_;
  if (d.participant.id <= 0) return;
  std::vector<geometry_msgs_msg_dds__TransformStamped_> placed(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    auto& t = placed[i];
    t.header = header(stampNs, d.options.baseFrame);
    t.child_frame_id = text(frames[i].child);
    t.transform.translation = {frames[i].pose.x, frames[i].pose.y, 0.0};
    t.transform.rotation = {0.0, 0.0, std::sin(frames[i].pose.yaw / 2), std::cos(frames[i].pose.yaw / 2)};
  }
  tf2_msgs_msg_dds__TFMessage_ msg{};
  msg.transforms._maximum = msg.transforms._length = static_cast<std::uint32_t>(placed.size());
  msg.transforms._buffer = placed.data();
  dds_write(d.frames, &msg);
}

void Ros2RobotWriter::publishMerged(const lmsview::Merged& merged) {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    if (!d.running) return;
    d.pending = merged;
    d.full = true;
  }
  d.wake.notify_one();
}

void Ros2RobotWriter::publishHealth(std::int64_t stampNs, const std::vector<DiagnosticStatus>& statuses) {
  Impl& d = *impl_;
  if (d.participant.id <= 0) return;
  std::vector<std::vector<diagnostic_msgs_msg_dds__KeyValue_>> values(statuses.size());
  std::vector<diagnostic_msgs_msg_dds__DiagnosticStatus_> status(statuses.size());
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    const DiagnosticStatus& s = statuses[i];
    for (const auto& [key, value] : s.values) values[i].push_back({text(key), text(value)});
    auto& out = status[i];
    out.level = static_cast<std::uint8_t>(s.level);
    out.name = text(s.name);
    out.message = text(s.message);
    out.hardware_id = text(s.hardwareId);
    out.values._maximum = out.values._length = static_cast<std::uint32_t>(values[i].size());
    out.values._buffer = values[i].data();
  }
  diagnostic_msgs_msg_dds__DiagnosticArray_ msg{};
  static const std::string kNoFrame;
  msg.header = header(stampNs, kNoFrame);
  msg.status._maximum = msg.status._length = static_cast<std::uint32_t>(status.size());
  msg.status._buffer = status.data();
  dds_write(d.diagnostics, &msg);
}

void Ros2RobotWriter::close() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = true;
    d.running = false;
    d.full = false;
  }
  d.wake.notify_one();
  if (d.thread.joinable()) d.thread.join();
  d.participant.reset();
  d.frames = d.cloud = d.scan = d.diagnostics = 0;
}

}  // namespace lms
