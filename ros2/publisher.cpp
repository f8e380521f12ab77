// lmsview::Ros2Publisher on Cyclone DDS, in ROS 2's wire conventions: topic
// "rt" + name, type sensor_msgs::msg::dds_::LaserScan_ in plain CDR, the QoS
// and user data a ROS 2 writer carries. One thread writes; publish() only
// leaves the newest scan for it.

#include <dds/dds.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "lms/formats/laser_scan.h"
#include "lmsview/ros2.h"
#include "ros2/laser_scan.h"

namespace lmsview {

namespace {

// What ROS 2 writers put in their participant's and their own user data:
// the security enclave, and the type's hash (computed from the message's
// type description as ROS 2 computes it), so newer ROS 2 readers check the
// type without a warning.
constexpr char kParticipantUserData[] = "enclave=/;";
constexpr char kWriterUserData[] =
    "typehash=RIHS01_64c191398013af96509d518dac71d5164f9382553fce5c1f8cca5be7924bd828;";

// Deletes a DDS entity (and what it holds) when it goes.
struct Entity {
  dds_entity_t id = 0;
  Entity() = default;
  explicit Entity(dds_entity_t e) : id(e) {}
  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;
  ~Entity() { reset(); }
  void reset() {
    if (id > 0) dds_delete(id);
    id = 0;
  }
};

struct Qos {
  dds_qos_t* q = dds_create_qos();
  Qos() = default;
  Qos(const Qos&) = delete;
  Qos& operator=(const Qos&) = delete;
  ~Qos() { dds_delete_qos(q); }
};

int domainFromEnvironment() {
  const char* text = std::getenv("ROS_DOMAIN_ID");
  return text == nullptr || *text == '\0' ? 0 : lms::rosDomain(text);
}

}  // namespace

struct Ros2Publisher::Impl {
  Ros2Options options;
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
    const lms::LaserScanFields f = lms::laserScanFields(scan, options.frame_id);
    sensor_msgs_msg_dds__LaserScan_ msg{};
    msg.header.stamp.sec = f.sec;
    msg.header.stamp.nanosec = f.nanosec;
    msg.header.frame_id = const_cast<char*>(options.frame_id.c_str());  // only read by the write
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

Ros2Publisher::Ros2Publisher(Ros2Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

Ros2Publisher::~Ros2Publisher() {
  close();
}

std::error_code Ros2Publisher::open() {
  Impl& d = *impl_;
  if (d.participant.id > 0) return errc::already_open;
  if (!valid_ros2_topic(d.options.topic)) return errc::bad_topic;
  const int domain = d.options.domain < 0 ? domainFromEnvironment() : d.options.domain;
  if (domain < 0 || domain > lms::kMaxRosDomain) return errc::bad_domain;

  Qos participantQos;
  dds_qset_userdata(participantQos.q, kParticipantUserData, sizeof kParticipantUserData - 1);
  Entity participant(dds_create_participant(static_cast<dds_domainid_t>(domain), participantQos.q, nullptr));
  if (participant.id < 0) return errc::dds_failed;
  const std::string name = "rt" + d.options.topic;
  const dds_entity_t topic =
      dds_create_topic(participant.id, &sensor_msgs_msg_dds__LaserScan__desc, name.c_str(), nullptr, nullptr);
  if (topic < 0) return errc::dds_failed;
  // Reliable (so a ROS 2 default reader matches; a best-effort sensor-data
  // reader matches too), volatile, the last 5, plain CDR only; a write waits
  // at most max_blocking for a slow reliable reader.
  Qos qos;
  dds_qset_reliability(qos.q, DDS_RELIABILITY_RELIABLE, DDS_MSECS(d.options.max_blocking.count()));
  dds_qset_durability(qos.q, DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos.q, DDS_HISTORY_KEEP_LAST, 5);
  const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos.q, 1, &xcdr1);
  dds_qset_userdata(qos.q, kWriterUserData, sizeof kWriterUserData - 1);
  const dds_entity_t writer = dds_create_writer(participant.id, topic, qos.q, nullptr);
  if (writer < 0) return errc::dds_failed;

  d.writer = writer;
  d.participant.id = std::exchange(participant.id, 0);
  {
    std::lock_guard lock(d.mutex);
    d.stopping = false;
    d.running = true;
  }
  d.thread = std::thread([&d] { d.run(); });
  return {};
}

void Ros2Publisher::publish(const Scan& scan) {
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

void Ros2Publisher::close() {
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

Ros2Stats Ros2Publisher::stats() const {
  return {impl_->published.load(std::memory_order_relaxed), impl_->dropped.load(std::memory_order_relaxed)};
}

}  // namespace lmsview
