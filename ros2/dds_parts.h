// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the ROS 2 writers share on Cyclone DDS: entities and QoS that delete
// themselves, DDS's log caught into a failure's reason, the domain a run
// joins. Internal to ros2/.

#include <dds/dds.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "lms/formats/laser_scan.h"

namespace lms::dds_parts {

// What ROS 2 participants put in their user data: the security enclave.
constexpr char kParticipantUserData[] = "enclave=/;";

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

// DDS writes its errors (a configuration it cannot use, say) to a log sink
// that is one for the whole process, standard error by default. While a
// publisher opens, its words are caught instead, for its failure's reason;
// opens take turns, as the sink is the process's.
inline std::mutex& logSinkTurn() {
  static std::mutex turn;
  return turn;
}

class CaughtLog {
 public:
  CaughtLog() : turn_(logSinkTurn()) { dds_set_log_sink(&CaughtLog::take, this); }
  ~CaughtLog() { dds_set_log_sink(nullptr, nullptr); }
  CaughtLog(const CaughtLog&) = delete;
  CaughtLog& operator=(const CaughtLog&) = delete;
  // The first error's words, on one line.
  std::string text() const { return text_; }

 private:
  static void take(void* self, const dds_log_data_t* data) {
    auto* caught = static_cast<CaughtLog*>(self);
    if (!caught->text_.empty() || data->message == nullptr) return;
    std::string line(data->message, data->size);
    for (char& c : line)
      if (c == '\n' || c == '\r') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    caught->text_ = line;
  }
  std::lock_guard<std::mutex> turn_;
  std::string text_;
};

inline int domainFromEnvironment() {
  const char* text = std::getenv("ROS_DOMAIN_ID");
  return text == nullptr || *text == '\0' ? 0 : rosDomain(text);
}

}  // namespace lms::dds_parts
