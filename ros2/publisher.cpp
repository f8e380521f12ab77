// SPDX-License-Identifier: Apache-2.0
// lmsview::Ros2Publisher, the lmsview::ros2 library's face of the writer:
// its answers in lmsview's error category, which it shares with the
// liblmsview it is linked to.

#include "lmsview/ros2.h"

#include "lms/formats/laser_scan.h"
#include "ros2/writer.h"

namespace lmsview {

struct Ros2Publisher::Impl {
  explicit Impl(const Ros2Options& o)
      : writer({.topic = o.topic,
                .frameId = o.frame_id,
                .domain = o.domain,
                .maxBlockingMs = static_cast<int>(o.max_blocking.count())}) {}
  lms::Ros2Writer writer;
};

// The public signature takes its options by value, as it always has: the ABI.
Ros2Publisher::Ros2Publisher(Ros2Options options)  // NOLINT(performance-unnecessary-value-param)
    : impl_(std::make_unique<Impl>(options)) {}

Ros2Publisher::~Ros2Publisher() = default;

std::error_code Ros2Publisher::open() {
  const errc e = impl_->writer.open();
  return e == errc{} ? std::error_code() : make_error_code(e);
}

std::string Ros2Publisher::last_error_detail() const {
  return impl_->writer.detail();
}

void Ros2Publisher::publish(const Scan& scan) {
  impl_->writer.publish(scan);
}

void Ros2Publisher::close() {
  impl_->writer.close();
}

Ros2Stats Ros2Publisher::stats() const {
  const lms::Ros2Writer::Stats s = impl_->writer.stats();
  return {s.published, s.dropped};
}

bool valid_ros2_topic(const std::string& topic) noexcept {
  return lms::validRos2Topic(topic);
}

}  // namespace lmsview
