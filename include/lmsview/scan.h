// SPDX-License-Identifier: Apache-2.0
#pragma once

// The plain data every part of lmsview passes around: a scan and its
// geometry, what happened on a link (an event and its reasons), the counts
// of a run, and what went wrong as a value. No behaviour beyond reading
// them, and nothing of the library's layers: the protocol that makes a scan
// and the programs that show it include this, and so does the library's
// public interface (lmsview/scanner.h).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace lmsview {

// What went wrong, as a caller can branch on it; ec.message() is one line.
// The values are the C interface's LMSVIEW_* error values.
enum class errc {
  timeout = 1,        // next(): no scan within the timeout
  closed,             // the scanner was closed (or never opened)
  link_refused,       // nothing accepts connections at that address
  link_lost,          // the open link went away (peer closed, device unplugged)
  device_busy,        // another program holds the serial device
  permission_denied,  // you may not open the serial device
  no_such_device,     // the serial device does not exist
  bad_link_name,      // the link name does not parse, or names no address
  unreachable,        // no answer from that address (timed out, no route)
  already_open,       // open() was called twice
  link_failed,        // another failure of the link (last_error_detail() says which)
  bad_argument,       // an option that cannot be (last_error_detail() says which)
  end_of_recording,   // a "file:" link has played its last scan
  bad_recording,      // a "file:" link names no readable recording (last_error_detail() says why)
  bad_topic,          // Ros2Publisher: not a ROS 2 topic name
  bad_domain,         // Ros2Publisher: a DDS domain outside 0 to 232 (or a bad ROS_DOMAIN_ID)
  dds_failed,         // Ros2Publisher: DDS could not join the domain or make the writer
  wrong_size,         // C interface: the scan's points do not suit the caller's array
};

// Where the points of a scan lie and what its ranges mean. Point i lies at
// angle_min + i * angle_increment, counter-clockwise seen from above.
struct Geometry {
  std::size_t count = 0;       // points in the scan
  double angle_min = 0;        // rad: point 0, the scanner's right
  double angle_increment = 0;  // rad between neighbouring points
  // A range outside [range_min, range_max] (metres) is not a distance: 0
  // means no echo, values above range_max are the scanner's codes (dazzle,
  // nothing seen); the raw word says which.
  double range_min = 0;
  double range_max = 0;
  double range_unit = 0.001;  // metres per count of a raw word's range bits
  double angle_max() const {
    return angle_min + angle_increment * static_cast<double>(count > 0 ? count - 1 : 0);
  }
  double angle(std::size_t i) const { return angle_min + angle_increment * static_cast<double>(i); }
  // Spelled out: the header compiles as C++17 too.
  bool operator==(const Geometry& o) const {
    return count == o.count && angle_min == o.angle_min && angle_increment == o.angle_increment &&
           range_min == o.range_min && range_max == o.range_max && range_unit == o.range_unit;
  }
  bool operator!=(const Geometry& o) const { return !(*this == o); }
};

// One scan, carrying its own geometry.
struct Scan {
  std::uint64_t seq = 0;  // 0, 1, 2 ... per valid scan this Scanner received; a gap means drops
  // Host wall-clock time (UTC, ns since the epoch) at which the reply's first
  // byte arrived: the scanner measured the scan just before it began to send
  // it, so this is the time of the scan (a serial line takes most of a
  // second to carry the whole reply at 9600 baud).
  std::int64_t stamp_ns = 0;
  std::int64_t received_ns = 0;  // the same clock, when the reply was whole
  Geometry geometry{};
  std::vector<float> ranges{};         // metres, geometry.count of them: bits 0-12 of each word * range_unit
  std::vector<std::uint16_t> words{};  // the raw range words, flag bits included
  // A "file:" link to a recording that holds no raw words: these were made
  // from its ranges, without their flag bits (an event said so at open()).
  bool words_rebuilt = false;
};

// What happened, with typed fields and a plain one-line text.
struct Event {
  enum class Kind {
    opened,             // the link is open (again); `where`
    open_failed,        // an open failed for good; `error` and the text say why
    lost,               // the open link was lost; the text says why
    reconnecting,       // the next open comes in `delay`; `attempt`, `where`
    reply_rejected,     // a request gave no whole scan; `reason` (counted in Stats too)
    no_answer,          // requests get no answer (said once); `every_rate_tried`
    baud_found,         // baud 0: the scanner answered at `baud`
    baud_not_found,     // baud 0: no rate got an answer; going on at `baud`
    baud_switched,      // scanner_baud: the scanner runs at `baud` now (from `from_baud`)
    baud_not_switched,  // scanner_baud: it did not take `baud`; going on at `from_baud`
    baud_restored,      // at close(): the scanner is back at `baud`
    variant_set,        // variant: the scanner sends scans of `points` points now
    variant_refused,  // variant: the scanner did not take `points` (`reason`); its replies say what it sends
    words_rebuilt,    // a recording without raw words: Scan::words are made from its ranges
    callback_failed,  // a callback threw (said once a subscription); the text is the exception's
    stream_found,     // the scanner was streaming when the link opened; `streaming`: its stream is read
    stream_refused,   // stream: the scanner did not start continuous output (`reason`); polling instead
    stream_not_stopped,  // at close(): the scanner did not acknowledge the end of its stream
    units_differ,        // the replies state `units`, not the unit the options expect; the replies win
    recording_cut,       // a "file:" recording was cut short; the text says where and how many scans it holds
    recording_ended,     // a "file:" recording has played its last scan (next() then says end_of_recording)
  };
  // Why a request gave no whole scan.
  enum class Reason {
    none,
    no_reply,     // acknowledged, but no reply came
    not_a_reply,  // what came is not a measurement reply
    too_short,    // the reply ended early
    checksum,     // the reply's checksum is wrong
    refused,      // the scanner refused the request (NAK)
    unanswered,   // no answer to the request in time
    unexpected,   // the answer began with neither ACK nor NAK (noise, a wrong rate)
  };
  Kind kind = Kind::opened;
  std::string text{};                  // one line, no newline
  std::chrono::milliseconds delay{0};  // reconnecting
  int attempt = 0;                     // reconnecting
  int baud = 0;                        // baud_*: the rate concerned
  int from_baud = 0;                   // baud_switched, baud_not_switched: the rate before
  int points = 0;                      // variant_*: the points of the variant asked for
  Reason reason = Reason::none;        // reply_rejected
  bool every_rate_tried = false;       // no_answer: baud 0 looked for the rate already
  std::string where{};                 // opened, reconnecting: where the link goes
  std::error_code error{};             // open_failed: the system's error, where there is one
  std::string units{};                 // units_differ: the unit the replies state ("mm", "cm", "dm")
  bool streaming = false;              // stream_found: its stream is read (false: it was stopped)
};

// What of a scan is kept, in the scanner's own frame.
struct ScanFilter {
  // The sector kept, in degrees: cropping shortens the scan (its count and
  // angle_min follow, its words with it). The default keeps the whole field.
  double crop_min_deg = -180.0;
  double crop_max_deg = 180.0;
  // Sectors hidden (a wheel, the robot's own body), each [from, to] degrees:
  // their points become NaN.
  std::vector<std::pair<double, double>> mask_deg{};
  // Distances kept, in metres: a point nearer or farther becomes NaN.
  double range_min_m = 0.0;
  double range_max_m = std::numeric_limits<double>::infinity();

  // Whether it changes anything.
  bool active() const {
    return crop_min_deg > -180.0 || crop_max_deg < 180.0 || !mask_deg.empty() || range_min_m > 0.0 ||
           range_max_m < std::numeric_limits<double>::infinity();
  }
};

// Where a scanner sits on the robot: metres in the robot's frame and its
// heading in radians.
struct Pose {
  double x = 0.0;
  double y = 0.0;
  double yaw = 0.0;
};

// A scan and where its scanner sits.
struct PlacedScan {
  const Scan* scan = nullptr;
  Pose pose{};
};

// One point of a merged cloud: metres in the robot's frame, and the index of
// the scanner it came from (its place in merge()'s input).
struct MergedPoint {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  std::uint32_t scanner = 0;
};

// Bins of the merged scan: 360 degrees in half degrees.
inline constexpr std::size_t kMergedBins = 720;

// Scans of several scanners in the robot's frame.
struct Merged {
  // Every point that is a distance, moved by its scanner's pose.
  std::vector<MergedPoint> points{};
  // A 360-degree scan from the robot's origin (angle_min -pi, 0.5 degree
  // bins): the nearest point of each bin, NaN where there is none. It has
  // no raw words. Its stamp is the first scan's.
  Scan scan{};
};

struct Stats {
  std::uint64_t requests = 0;
  std::uint64_t scans = 0;  // valid scans received
  std::uint64_t rejected_no_reply = 0;
  std::uint64_t rejected_not_a_reply = 0;
  std::uint64_t rejected_too_short = 0;
  std::uint64_t rejected_checksum = 0;
  std::uint64_t rejected_refused = 0;     // requests the scanner refused (NAK)
  std::uint64_t rejected_unanswered = 0;  // requests that got no answer in time
  std::uint64_t rejected_unexpected = 0;  // answers that began with neither ACK nor NAK (noise, a wrong rate)
  std::uint64_t dropped = 0;              // scans dropped from next()'s queue when it was full
  std::uint64_t reconnects = 0;
  std::uint64_t discarded_bytes = 0;  // streamed bytes no telegram held (noise, telegrams cut short)
};

}  // namespace lmsview
