// SPDX-License-Identifier: Apache-2.0
// A ROS 2 subscriber that knows only ROS 2's conventions on DDS (topic
// "rt" + name, the LaserScan types from the same IDL): one reliable reader as
// a ROS 2 default subscriber has, one best-effort reader as a sensor-data
// subscriber has. Prints "ready", then one JSON line a sample, and at the
// first sample what the writer and its participant carry in their user data.
//
//   ros2_listen DOMAIN TOPIC COUNT SECONDS [--stall] [--type tf|cloud|diagnostics] [--latched]
//
// The reliable reader takes the serialized bytes (hex, to compare with a
// hand-built encoding); the best-effort one takes decoded samples. Ends after
// COUNT samples on each reader, 2 s without one, or SECONDS. --stall: a reliable reader that
// takes nothing, for SECONDS. --type: a robot's topic instead of a LaserScan
// (the reliable reader only); --latched: a transient-local reader, as a
// /tf_static subscriber has, to get what was written before it came.

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ros2/laser_scan.h"
#include "ros2/robot.h"

namespace {

std::string hex(const unsigned char* p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 15]);
  }
  return out;
}

std::string userData(const dds_qos_t* qos) {
  void* value = nullptr;
  std::size_t size = 0;
  if (qos == nullptr || !dds_qget_userdata(qos, &value, &size) || value == nullptr) return "";
  std::string out(static_cast<const char*>(value), size);
  dds_free(value);
  return out;
}

// Received at, on the clock the scans are stamped with (for latency).
long long wallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void printDecoded(const sensor_msgs_msg_dds__LaserScan_& m) {
  std::printf(
      "{\"reader\":\"best_effort\",\"wall_ns\":%lld,\"sec\":%d,\"nanosec\":%u,\"frame_id\":\"%s\",\"ranges\":"
      "[",
      wallNs(), m.header.stamp.sec, m.header.stamp.nanosec, m.header.frame_id);
  for (std::uint32_t i = 0; i < m.ranges._length; ++i) {
    const float r = m.ranges._buffer[i];
    if (std::isnan(r))
      std::printf("%snull", i ? "," : "");  // a point a filter hid: JSON has no NaN
    else
      std::printf("%s%.9g", i ? "," : "", r);
  }
  std::printf("],\"intensities\":%u}\n", m.intensities._length);
}

// What the writer and its participant carry, as a ROS 2 reader sees them
// (asked while the writer is there: at its first sample).
void printUserData(dds_entity_t participant, dds_entity_t reader) {
  dds_instance_handle_t writers[4];
  const dds_return_t w = dds_get_matched_publications(reader, writers, 4);
  for (int i = 0; i < w; ++i) {
    dds_builtintopic_endpoint_t* e = dds_get_matched_publication_data(reader, writers[i]);
    if (e == nullptr) continue;
    std::printf("{\"writer_user_data\":\"%s\",\"type\":\"%s\"}\n", userData(e->qos).c_str(), e->type_name);
    dds_builtintopic_free_endpoint(e);
  }
  const dds_entity_t participants =
      dds_create_reader(participant, DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr);
  void* found[8] = {};
  dds_sample_info_t info[8];
  const int p = dds_read(participants, found, info, 8, 8);
  for (int i = 0; i < p; ++i) {
    const auto* bp = static_cast<const dds_builtintopic_participant_t*>(found[i]);
    const std::string data = userData(bp->qos);
    if (!data.empty()) std::printf("{\"participant_user_data\":\"%s\"}\n", data.c_str());
  }
  if (p > 0) dds_return_loan(participants, found, p);
  dds_delete(participants);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: ros2_listen DOMAIN TOPIC COUNT SECONDS [--stall]\n");
    return 2;
  }
  const auto domain = static_cast<dds_domainid_t>(std::atoi(argv[1]));
  const std::string topicName = std::string("rt") + argv[2];
  const int count = std::atoi(argv[3]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[4]));
  bool stall = false, latched = false;
  const dds_topic_descriptor_t* type = &sensor_msgs_msg_dds__LaserScan__desc;
  for (int i = 5; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--stall") stall = true;
    if (a == "--latched") latched = true;
    if (a == "--type" && i + 1 < argc) {
      const std::string t = argv[++i];
      type = t == "tf"            ? &tf2_msgs_msg_dds__TFMessage__desc
             : t == "cloud"       ? &sensor_msgs_msg_dds__PointCloud2__desc
             : t == "diagnostics" ? &diagnostic_msgs_msg_dds__DiagnosticArray__desc
                                  : type;
    }
  }
  const bool laserScan = type == &sensor_msgs_msg_dds__LaserScan__desc;

  const dds_entity_t participant = dds_create_participant(domain, nullptr, nullptr);
  const dds_entity_t topic = dds_create_topic(participant, type, topicName.c_str(), nullptr, nullptr);
  if (participant < 0 || topic < 0) {
    std::fprintf(stderr, "ros2_listen: %s\n", dds_strretcode(participant < 0 ? participant : topic));
    return 1;
  }
  dds_qos_t* reliable = dds_create_qos();
  dds_qset_reliability(reliable, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(reliable, DDS_HISTORY_KEEP_LAST, stall ? 1 : 10);
  if (latched) dds_qset_durability(reliable, DDS_DURABILITY_TRANSIENT_LOCAL);
  dds_qos_t* bestEffort = dds_create_qos();
  dds_qset_reliability(bestEffort, DDS_RELIABILITY_BEST_EFFORT, 0);
  dds_qset_history(bestEffort, DDS_HISTORY_KEEP_LAST, 5);
  const dds_entity_t readers[2] = {
      dds_create_reader(participant, topic, reliable, nullptr),
      stall || !laserScan ? 0 : dds_create_reader(participant, topic, bestEffort, nullptr)};
  dds_delete_qos(reliable);
  dds_delete_qos(bestEffort);
  std::printf("ready\n");
  std::fflush(stdout);

  int got[2] = {0, 0};
  auto last = std::chrono::steady_clock::now();
  const dds_entity_t waitset = dds_create_waitset(participant);
  for (const dds_entity_t r : readers) {
    if (r > 0 && !stall) {
      dds_set_status_mask(r, DDS_DATA_AVAILABLE_STATUS);
      dds_waitset_attach(waitset, r, r);
    }
  }
  if (!laserScan) got[1] = count;  // one reader only
  while (std::chrono::steady_clock::now() < deadline && (stall || got[0] < count || got[1] < count)) {
    if (stall) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    // The writer has gone quiet: a sample missed before discovery ended
    // will not come.
    if (got[0] + got[1] > 0 && std::chrono::steady_clock::now() - last > std::chrono::seconds(2)) break;
    dds_waitset_wait(waitset, nullptr, 0, DDS_MSECS(100));
    ddsi_serdata* data[8];
    dds_sample_info_t info[8];
    const int n = dds_takecdr(readers[0], data, 8, info, DDS_ANY_STATE);
    for (int i = 0; i < n; ++i) {
      if (info[i].valid_data) {
        std::vector<unsigned char> bytes(ddsi_serdata_size(data[i]));
        ddsi_serdata_to_ser(data[i], 0, bytes.size(), bytes.data());
        std::printf("{\"reader\":\"reliable\",\"wall_ns\":%lld,\"cdr\":\"%s\"}\n", wallNs(),
                    hex(bytes.data(), bytes.size()).c_str());
        if (got[0]++ == 0) printUserData(participant, readers[0]);
      }
      ddsi_serdata_unref(data[i]);
    }
    void* samples[8] = {};
    const int m = readers[1] > 0 ? dds_take(readers[1], samples, info, 8, 8) : 0;
    for (int i = 0; i < m; ++i) {
      if (info[i].valid_data) {
        printDecoded(*static_cast<const sensor_msgs_msg_dds__LaserScan_*>(samples[i]));
        ++got[1];
      }
    }
    if (m > 0) dds_return_loan(readers[1], samples, m);
    if (n > 0 || m > 0) last = std::chrono::steady_clock::now();
  }

  std::fflush(stdout);
  dds_delete(participant);
  return 0;
}
