// SPDX-License-Identifier: Apache-2.0
// The ROS 2 writer on Cyclone DDS, in ROS 2's wire conventions: topic "rt"
// + name, type sensor_msgs::msg::dds_::LaserScan_ in plain CDR, the QoS and
// user data a ROS 2 writer carries. One thread writes; publish() only leaves
// the newest scan for it.

#include <dds/dds.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "lms/formats/laser_scan.h"
#include "ros2/dds_parts.h"
#include "ros2/laser_scan.h"
#include "ros2/writer.h"

namespace lms {

using lmsview::errc;
using lmsview::Scan;
using namespace dds_parts;

namespace {

// The LaserScan type's hash (computed from the message's type description
// as ROS 2 computes it), so newer ROS 2 readers check the type without a
// warning.
constexpr char kWriterUserData[] =
    "typehash=RIHS01_64c191398013af96509d518dac71d5164f9382553fce5c1f8cca5be7924bd828;";

}  // namespace

struct Ros2Writer::Impl {
  Ros2Writer::Options options;
  std::string detail;  // why the last open() failed
  Entity participant;
  dds_entity_t writer = 0;  // held by the participant

  // The hand-over: the newest scan not yet written.
  std::mutex mutex;
  std::condition_variable wake;
  Scan pending;
  bool full = false;
  bool running = false;  // open, and publish() hands scans over
  bool stopping = false;
  std::thread thread;

  std::atomic<std::uint64_t> published{0};  // counters only: relaxed
  std::atomic<std::uint64_t> dropped{0};

  void run() {
    Scan scan;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return full || stopping; });
        if (stopping) return;
        scan = pending;
        full = false;
      }
      write(scan);
    }
  }

  void write(const Scan& scan) {
    const LaserScanFields f = laserScanFields(scan, options.frameId);
    sensor_msgs_msg_dds__LaserScan_ msg{};
    msg.header.stamp.sec = f.sec;
    msg.header.stamp.nanosec = f.nanosec;
    msg.header.frame_id = const_cast<char*>(options.frameId.c_str());  // only read by the write
    msg.angle_min = f.angleMin;
    msg.angle_max = f.angleMax;
    msg.angle_increment = f.angleIncrement;
    msg.time_increment = f.timeIncrement;
    msg.scan_time = f.scanTime;
    msg.range_min = f.rangeMin;
    msg.range_max = f.rangeMax;
    msg.ranges._maximum = msg.ranges._length = static_cast<std::uint32_t>(scan.ranges.size());
    msg.ranges._buffer = const_cast<float*>(scan.ranges.data());
    msg.ranges._release = false;
    const dds_return_t rc = dds_write(writer, &msg);
    (rc == DDS_RETCODE_OK ? published : dropped).fetch_add(1, std::memory_order_relaxed);
  }
};

Ros2Writer::Ros2Writer(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

Ros2Writer::~Ros2Writer() {
  close();
}

errc Ros2Writer::open() {
  Impl& d = *impl_;
  if (d.participant.id > 0) return errc::already_open;
  d.detail.clear();
  if (!validRos2Topic(d.options.topic)) {
    d.detail = "not a ROS 2 topic name: '" + d.options.topic + "'";
    return errc::bad_topic;
  }
  CaughtLog log;
  const auto failed = [&d, &log](const char* what, dds_return_t rc) {
    return ddsFailed(what, rc, log, &d.detail);
  };
  Entity participant;
  if (const errc joined = joinDomain(d.options.domain, log, &participant, &d.detail); joined != errc{})
    return joined;
  const std::string name = "rt" + d.options.topic;
  const dds_entity_t topic =
      dds_create_topic(participant.id, &sensor_msgs_msg_dds__LaserScan__desc, name.c_str(), nullptr, nullptr);
  if (topic < 0) return failed("DDS could not make the topic", topic);
  // Reliable (so a ROS 2 default reader matches; a best-effort sensor-data
  // reader matches too), volatile, the last 5, plain CDR only; a write waits
  // at most max_blocking for a slow reliable reader.
  Qos qos;
  dds_qset_reliability(qos.q, DDS_RELIABILITY_RELIABLE, DDS_MSECS(d.options.maxBlockingMs));
  dds_qset_durability(qos.q, DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos.q, DDS_HISTORY_KEEP_LAST, 5);
  const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos.q, 1, &xcdr1);
  dds_qset_userdata(qos.q, kWriterUserData, sizeof kWriterUserData - 1);
  const dds_entity_t writer = dds_create_writer(participant.id, topic, qos.q, nullptr);
  if (writer < 0) return failed("DDS could not make the writer", writer);

  d.writer = writer;
  d.participant.id = std::exchange(participant.id, 0);
  {
    std::lock_guard lock(d.mutex);
    d.stopping = false;
    d.running = true;
  }
  d.thread = std::thread([&d] { d.run(); });
  return errc{};
}

void Ros2Writer::publish(const Scan& scan) {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    if (!d.running) return;
    // The one waiting is older: the network gets the newest.
    if (d.full) d.dropped.fetch_add(1, std::memory_order_relaxed);
    d.pending = scan;
    d.full = true;
  }
  d.wake.notify_one();
}

void Ros2Writer::close() {
  Impl& d = *impl_;
  {
    std::lock_guard lock(d.mutex);
    d.stopping = true;
    d.running = false;
    if (d.full) d.dropped.fetch_add(1, std::memory_order_relaxed);  // never written
    d.full = false;
  }
  d.wake.notify_one();
  if (d.thread.joinable()) d.thread.join();
  d.participant.reset();
  d.writer = 0;
}

std::string Ros2Writer::detail() const {
  return impl_->detail;
}

Ros2Writer::Stats Ros2Writer::stats() const {
  return {impl_->published.load(std::memory_order_relaxed), impl_->dropped.load(std::memory_order_relaxed)};
}

}  // namespace lms
