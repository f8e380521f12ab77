// SPDX-License-Identifier: Apache-2.0
// --serve [ADDR:]PORT: every valid scan received goes to the live server
// (the page and the WebSocket stream), which takes only the newest and never
// makes the scanner wait; the link's state goes to its clients as a status.

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "app/serve/server.h"

namespace app {

namespace {

class ServeSink {
 public:
  explicit ServeSink(std::unique_ptr<serve::LiveServer> server) : server_(std::move(server)) {}
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    server_->publish(scan, from.index);
    return {};
  }
  void merged(const lmsview::Merged& m) { server_->publishMerged(m); }
  // A robot's health: one line a scanner, as one status.
  void health(const Health& h) {
    std::string text;
    int level = 0;
    for (const lms::DiagnosticStatus& s : h.statuses) {
      if (!text.empty()) text += '\n';
      // "lmsview: front" is the status's name; the page shows "front: ...".
      text += s.name.substr(s.name.find(' ') + 1) + ": " + s.message;
      level = std::max(level, std::min(static_cast<int>(s.level), 2));
    }
    server_->robotStatus(level, text);
  }
  // What the clients are told of lmsview's link to the scanner.
  void link(const lmsview::Event& e) {
    using Kind = lmsview::Event::Kind;
    if (e.kind == Kind::opened) server_->linkState(true, "");
    if (e.kind == Kind::lost || e.kind == Kind::reconnecting) server_->linkState(false, e.text);
    if (e.kind == Kind::open_failed) server_->linkState(false, "link not open: " + e.text);
  }
  void end() { server_->stop(); }

 private:
  std::unique_ptr<serve::LiveServer> server_;
};

std::string bindProblem(std::error_code ec) {
  if (ec == std::errc::address_in_use)
    return "the port is in use (by another server, or another lmsview --serve)";
  if (ec == std::errc::permission_denied)
    return "this port is not allowed here (ports below 1024 need privileges)";
  if (ec == std::errc::address_not_available) return "no interface of this machine has that address";
  return ec.message();
}

}  // namespace

bool openServeSink(const RunOptions& options, const RobotLayout* robot, std::FILE* messages, Sink* sink,
                   std::string* error) {
  auto server = std::make_unique<serve::LiveServer>();
  serve::ServeOptions o{.address = options.serveAddress,
                        .port = static_cast<std::uint16_t>(options.servePort),
                        .frameId = options.frameId,
                        .version = LMSVIEW_VERSION,
                        .robot = {},
                        .baseFrame = robot ? robot->baseFrame : ""};
  if (robot != nullptr)
    for (const RobotLayout::Scanner& s : robot->scanners)
      o.robot.push_back({"/" + s.name + "/scan", s.frameId, s.pose.x, s.pose.y, s.pose.yaw});
  if (const std::error_code ec = server->open(o)) {
    *error =
        "--serve " + options.serveAddress + ":" + std::to_string(options.servePort) + ": " + bindProblem(ec);
    return false;
  }
  const unsigned port = server->port();
  if (options.serveAddress == "0.0.0.0")
    // Not an address to open: the page is at any address of this machine.
    std::fprintf(
        messages,
        "lmsview: serving the live page at http://ADDRESS:%u/ and the scans at ws://ADDRESS:%u/ for any "
        "address of this machine (here: http://127.0.0.1:%u/)\n",
        port, port, port);
  else
    std::fprintf(messages, "lmsview: serving the live page at http://%s:%u/ and the scans at ws://%s:%u/\n",
                 options.serveAddress.c_str(), port, options.serveAddress.c_str(), port);
  server->start();
  *sink = sinkOf(std::make_shared<ServeSink>(std::move(server)));
  return true;
}

}  // namespace app
