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
#include "lmsview/scan.h"

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

// DDS's failure to do `what`, in its own words where its log gave some.
inline lmsview::errc ddsFailed(const char* what, dds_return_t rc, const CaughtLog& log, std::string* detail) {
  const std::string said = log.text();
  *detail = std::string(what) + ": " + (said.empty() ? dds_strretcode(rc) : said);
  return lmsview::errc::dds_failed;
}

// Joins `requested` (-1: ROS_DOMAIN_ID, else 0) as a ROS 2 participant:
// errc{} with `out` holding it, or bad_domain or dds_failed and why.
inline lmsview::errc joinDomain(int requested, const CaughtLog& log, Entity* out, std::string* detail) {
  const int domain = requested == -1 ? domainFromEnvironment() : requested;
  if (domain < 0 || domain > kMaxRosDomain) {
    *detail = "a DDS domain must be 0 to " + std::to_string(kMaxRosDomain) + " (or -1: ROS_DOMAIN_ID), not " +
              std::to_string(requested);
    return lmsview::errc::bad_domain;
  }
  Qos qos;
  dds_qset_userdata(qos.q, kParticipantUserData, sizeof kParticipantUserData - 1);
  out->id = dds_create_participant(static_cast<dds_domainid_t>(domain), qos.q, nullptr);
  if (out->id < 0) return ddsFailed("DDS could not join the domain", out->id, log, detail);
  return lmsview::errc{};
}

}  // namespace lms::dds_parts
