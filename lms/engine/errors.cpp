// SPDX-License-Identifier: Apache-2.0
#include "lms/engine/errors.h"

namespace lms {

namespace {

using lmsview::errc;

constexpr ErrorContract kContract[] = {
    {errc::timeout, "LMSVIEW_TIMEOUT", "Timeout", "TimeoutError", "no scan within the time allowed"},
    {errc::closed, "LMSVIEW_CLOSED", "Closed", "", "the scanner is closed"},
    {errc::link_refused, "LMSVIEW_LINK_REFUSED", "LinkRefused", "ConnectionRefusedError",
     "connection refused: nothing listens at that address and port"},
    {errc::link_lost, "LMSVIEW_LINK_LOST", "LinkLost", "ConnectionError", "the link to the scanner was lost"},
    {errc::device_busy, "LMSVIEW_DEVICE_BUSY", "DeviceBusy", "ConnectionError",
     "the serial device is in use by another program"},
    {errc::permission_denied, "LMSVIEW_PERMISSION_DENIED", "PermissionDenied", "PermissionError",
     "permission denied: you may not open the serial device"},
    {errc::no_such_device, "LMSVIEW_NO_SUCH_DEVICE", "NoSuchDevice", "FileNotFoundError",
     "no such serial device"},
    {errc::bad_link_name, "LMSVIEW_BAD_LINK_NAME", "BadLinkName", "ValueError",
     "not a link name: use tcp://HOST[:PORT], serial://DEVICE or file:RECORDING"},
    {errc::unreachable, "LMSVIEW_UNREACHABLE", "Unreachable", "ConnectionError",
     "no answer from that address"},
    {errc::already_open, "LMSVIEW_ALREADY_OPEN", "AlreadyOpen", "RuntimeError",
     "the scanner is already open"},
    {errc::link_failed, "LMSVIEW_LINK_FAILED", "LinkFailed", "ConnectionError", "the link failed"},
    {errc::bad_argument, "LMSVIEW_BAD_ARGUMENT", "BadArgument", "ValueError",
     "a bad argument (a null pointer, a negative timeout, or an option that cannot be)"},
    {errc::end_of_recording, "LMSVIEW_END_OF_RECORDING", "EndOfRecording", "Closed",
     "the recording has no more scans"},
    {errc::bad_recording, "LMSVIEW_BAD_RECORDING", "BadRecording", "OSError", "the recording cannot be read"},
    {errc::bad_topic, "LMSVIEW_BAD_TOPIC", "BadTopic", "ValueError",
     "not a ROS 2 topic name: use /scan or /front/scan (letters, digits, '_')"},
    {errc::bad_domain, "LMSVIEW_BAD_DOMAIN", "BadDomain", "ValueError",
     "not a DDS domain: use 0 to 232 (or ROS_DOMAIN_ID so set)"},
    {errc::dds_failed, "LMSVIEW_DDS_FAILED", "DdsFailed", "ConnectionError",
     "DDS could not start (see CYCLONEDDS_URI)"},
    {errc::wrong_size, "LMSVIEW_WRONG_SIZE", "WrongSize", "ValueError",
     "the scan's points do not suit the array (lmsview_next takes 361; lmsview_next_scan says how many it "
     "needs)"},
};

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "lmsview"; }
  std::string message(int value) const override {
    const ErrorContract* row = contractOf(value);
    return row ? row->message : "unknown lmsview error";
  }
};

}  // namespace

std::span<const ErrorContract> errorContract() {
  return kContract;
}

const ErrorContract* contractOf(int code) {
  for (const ErrorContract& row : kContract)
    if (static_cast<int>(row.code) == code) return &row;
  return nullptr;
}

}  // namespace lms

namespace lmsview {

const std::error_category& error_category() noexcept {
  static const lms::Category category;
  return category;
}

}  // namespace lmsview
