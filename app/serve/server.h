// SPDX-License-Identifier: Apache-2.0
#pragma once

// --serve: a small server on a thread of its own that gives a browser the
// live page (GET /) and streams each scan over WebSocket in the
// foxglove.websocket.v1 protocol the web-based robotics viewers speak.
//
// It never holds the scanner back: publish() leaves the newest scan and
// returns; the server thread encodes it once and gives each subscribed
// client only the newest frame (a frame waiting for a slow client is
// replaced, not queued). Sockets are non-blocking; at most 16 clients; a
// handshake must finish within 5 s and a client must read within 10 s.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "lmsview/scanner.h"

namespace app::serve {

// A robot's scanner on the stream: its channel /NAME/scan, in frame
// NAME_laser placed in the base frame.
struct ServeScanner {
  std::string topic;
  std::string frameId;
  double x = 0, y = 0, yaw = 0;
};

struct ServeOptions {
  std::string address = "127.0.0.1";  // loopback unless given
  std::uint16_t port = 8765;
  std::string frameId = "laser";
  std::string version;  // for serverInfo
  // A robot's scanners (empty: one channel, /scan in frameId). With them
  // the stream also has /tf: where each scanner's frame sits in baseFrame,
  // and the merged cloud and scan.
  std::vector<ServeScanner> robot;
  std::string baseFrame;
};

inline constexpr int kMaxClients = 16;

class LiveServer {
 public:
  LiveServer();
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;
  ~LiveServer();  // stop()

  // Binds and listens (before any link opens, so a port in use is a usage
  // error); then start() runs the server thread.
  std::error_code open(const ServeOptions& options);
  std::uint16_t port() const;
  void start();
  // Any thread; never waits for a client. `scanner`: a robot's scanner.
  void publish(const lmsview::Scan& scan, std::size_t scanner = 0);
  // A robot's merged cloud and scan (/scan/merged, /scan/merged_scan in the
  // base frame); any thread, never waits.
  void publishMerged(const lmsview::Merged& merged);
  // The link is open (true) or lost (false, with a line saying why): a
  // status message to every client.
  void linkState(bool up, std::string_view text);
  // A robot's health: one line a scanner ("front: 10.0 scans/s"), at a level
  // (0 info, 1 warning, 2 error), for the page's status lines.
  void robotStatus(int level, std::string_view lines);
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The page served at "/" (HTML, CSS and script in one).
std::string_view pageHtml();

// Replaces `out` with the scan as the robotics viewers' foxglove.LaserScan
// JSON (no newline): timestamp {sec, nsec}, frame_id, pose at the origin,
// start_angle and end_angle (the scan's first and last angle), ranges
// (metres) and intensities (empty); and, for the page, range_min and
// range_max (a range outside them is not a distance).
void formatFoxgloveLaserScan(std::string& out, const lmsview::Scan& scan, std::string_view frameId);
// Replaces `out` with a merged cloud as foxglove.PointCloud JSON: 16-byte
// points (float32 x, y, z, uint32 scanner), base64 in `data`.
void formatFoxglovePointCloud(std::string& out, const std::vector<lmsview::MergedPoint>& points,
                              std::uint64_t stampNs, std::string_view frameId);

}  // namespace app::serve
