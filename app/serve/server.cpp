// SPDX-License-Identifier: Apache-2.0
#include "app/serve/server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/outputs/output_helpers.h"
#include "app/serve/protocol.h"
#include "lms/formats/laser_scan.h"
#include "transport/server_sockets.h"

namespace app::serve {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kHandshakeTime = 5s;
constexpr auto kReadTime = 10s;          // a client with output waiting must take some within this
constexpr auto kSubscribeTime = 10s;     // a WebSocket client must subscribe within this
constexpr auto kCloseTime = 2s;          // after our close frame, for the peer's
constexpr std::size_t kMaxControl = 16;  // text frames waiting for one client (status, pong)
constexpr std::size_t kMaxSubscriptions = 16;
constexpr std::uint32_t kScanChannel = 1;  // the first scanner's; a robot's others follow

constexpr std::string_view kFrameTransformsSchema =
    R"({"title":"foxglove.FrameTransforms","type":"object","properties":{"transforms":{"type":"array","items":)"
    R"({"type":"object","properties":{"timestamp":{"type":"object","properties":{"sec":{"type":"integer"},)"
    R"("nsec":{"type":"integer"}}},"parent_frame_id":{"type":"string"},"child_frame_id":{"type":"string"},)"
    R"("translation":{"type":"object","properties":{"x":{"type":"number"},"y":{"type":"number"},)"
    R"("z":{"type":"number"}}},"rotation":{"type":"object","properties":{"x":{"type":"number"},)"
    R"("y":{"type":"number"},"z":{"type":"number"},"w":{"type":"number"}}}}}}}})";

constexpr std::string_view kLaserScanSchema =
    R"({"title":"foxglove.LaserScan","type":"object","properties":{)"
    R"("timestamp":{"type":"object","properties":{"sec":{"type":"integer"},"nsec":{"type":"integer"}}},)"
    R"("frame_id":{"type":"string"},)"
    R"("pose":{"type":"object","properties":{"position":{"type":"object","properties":{"x":{"type":"number"},)"
    R"("y":{"type":"number"},"z":{"type":"number"}}},"orientation":{"type":"object","properties":{)"
    R"("x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"},"w":{"type":"number"}}}}},)"
    R"("start_angle":{"type":"number"},"end_angle":{"type":"number"},)"
    R"("range_min":{"type":"number"},"range_max":{"type":"number"},)"
    R"("ranges":{"type":"array","items":{"type":"number"}},)"
    R"("intensities":{"type":"array","items":{"type":"number"}}}})";

constexpr std::string_view kPointCloudSchema =
    R"({"title":"foxglove.PointCloud","type":"object","properties":{)"
    R"("timestamp":{"type":"object","properties":{"sec":{"type":"integer"},"nsec":{"type":"integer"}}},)"
    R"("frame_id":{"type":"string"},)"
    R"("pose":{"type":"object","properties":{"position":{"type":"object","properties":{"x":{"type":"number"},)"
    R"("y":{"type":"number"},"z":{"type":"number"}}},"orientation":{"type":"object","properties":{)"
    R"("x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"},"w":{"type":"number"}}}}},)"
    R"("point_stride":{"type":"integer"},)"
    R"("fields":{"type":"array","items":{"type":"object","properties":{"name":{"type":"string"},)"
    R"("offset":{"type":"integer"},"type":{"type":"integer"}}}},)"
    R"("data":{"type":"string","contentEncoding":"base64"}}})";

std::string response(std::string_view status, std::string_view type, std::string_view body,
                     std::string_view extra = {}) {
  std::string r = "HTTP/1.1 ";
  r += status;
  r += "\r\nContent-Type: ";
  r += type;
  r += "\r\nContent-Length: " + std::to_string(body.size()) +
       "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n";
  r += extra;
  r += "\r\n";
  r += body;
  return r;
}

std::string plain(std::string_view status) {
  return response(status, "text/plain; charset=utf-8", std::string(status) + "\n");
}

struct Client {
  int id = -1;
  enum class State { Http, Open, Closing } state = State::Http;
  Clock::time_point since;         // accepted, or closing began
  Clock::time_point lastProgress;  // output last taken (or none waiting)
  std::string in;
  std::string out;  // the frame being sent
  std::size_t outAt = 0;
  std::deque<std::string> control;  // text and control frames, before any scan
  std::vector<std::string> scans;   // each channel's newest scan frame, replaced while waiting
  std::size_t nextScan = 0;         // the channel whose turn it is
  std::vector<std::pair<std::uint32_t, std::uint32_t>> subscriptions;  // (id, channel)
  bool closeWhenSent = false;
  bool peerDone = false;  // the peer ended its side: what is queued still goes out
  bool dead = false;
};

}  // namespace

struct LiveServer::Impl {
  ServeOptions options;
  transport::ServerSockets sockets;
  std::vector<Client> clients;
  std::thread thread;

  // The hand-over from publish() and linkState(): each channel's newest.
  std::mutex mutex;
  std::vector<lmsview::Scan> newest;
  std::vector<bool> fresh;
  lmsview::Merged merged;  // a robot's newest merged cloud and scan
  bool freshMerged = false;
  std::vector<std::string> statuses;  // status messages not yet sent
  std::string linkStatus;             // the newest, for clients that come later
  std::atomic<bool> stopping{false};
  bool running = false;
  // Whether some client is subscribed (the server thread's count, read by
  // publish(): relaxed, a stale answer costs one wake or one scan late).
  std::atomic<bool> watched{false};

  void run() {
    std::string serverInfo =
        nlohmann::json{{"op", "serverInfo"},
                       {"name", "lmsview " + options.version},
                       {"capabilities", nlohmann::json::array()},
                       {"supportedEncodings", nlohmann::json::array()},
                       {"metadata", nlohmann::json::object()},
                       {"sessionId", std::to_string(Clock::now().time_since_epoch().count())}}
            .dump();
    nlohmann::json channels = nlohmann::json::array();
    for (std::size_t k = 0; k < topics_.size(); ++k)
      channels.push_back({{"id", kScanChannel + k},
                          {"topic", topics_[k].topic},
                          {"encoding", "json"},
                          {"schemaName", "foxglove.LaserScan"},
                          {"schema", std::string(kLaserScanSchema)},
                          {"schemaEncoding", "jsonschema"}});
    if (!options.robot.empty())
      channels.push_back({{"id", tfChannel()},
                          {"topic", "/tf"},
                          {"encoding", "json"},
                          {"schemaName", "foxglove.FrameTransforms"},
                          {"schema", std::string(kFrameTransformsSchema)},
                          {"schemaEncoding", "jsonschema"}});
    if (!options.robot.empty()) {
      channels.push_back({{"id", mergedChannel()},
                          {"topic", "/scan/merged"},
                          {"encoding", "json"},
                          {"schemaName", "foxglove.PointCloud"},
                          {"schema", std::string(kPointCloudSchema)},
                          {"schemaEncoding", "jsonschema"}});
      channels.push_back({{"id", mergedChannel() + 1},
                          {"topic", "/scan/merged_scan"},
                          {"encoding", "json"},
                          {"schemaName", "foxglove.LaserScan"},
                          {"schema", std::string(kLaserScanSchema)},
                          {"schemaEncoding", "jsonschema"}});
    }
    const std::string advertise = nlohmann::json{{"op", "advertise"}, {"channels", channels}}.dump();
    hello_ = {serverFrame(Opcode::Text, serverInfo), serverFrame(Opcode::Text, advertise)};
    while (!stopping.load(std::memory_order_acquire)) {
      std::vector<int> ids, wantWrite;
      for (const Client& c : clients) {
        // A peer that ended its side stays readable: only its output is waited for.
        if (!c.peerDone) ids.push_back(c.id);
        if (c.outAt < c.out.size() || !c.control.empty() || waiting(c)) wantWrite.push_back(c.id);
      }
      transport::ServerSockets::Ready ready;
      sockets.wait(ids, wantWrite, 200, &ready);
      const auto now = Clock::now();
      if (ready.accept) acceptAll(now);
      for (const int id : ready.readable)
        if (Client* c = find(id)) readFrom(*c, now);
      takeHandOver();
      for (Client& c : clients) {
        if (!c.dead) flush(c, now);
        expire(c, now);
      }
      for (Client& c : clients)
        if (c.dead) sockets.close(c.id);
      std::erase_if(clients, [](const Client& c) { return c.dead; });
      watched.store(std::any_of(clients.begin(), clients.end(),
                                [](const Client& c) { return !c.subscriptions.empty(); }),
                    std::memory_order_relaxed);
    }
    for (Client& c : clients) sockets.close(c.id);
    clients.clear();
  }

 public:
  // The channels' scanners: a robot's, or the one of the three link words.
  struct Topic {
    std::string topic;
    std::string frameId;
  };
  std::vector<Topic> topics_;
  std::uint32_t tfChannel() const { return kScanChannel + static_cast<std::uint32_t>(topics_.size()); }
  // A robot's merged cloud; its merged scan is the next channel.
  std::uint32_t mergedChannel() const { return tfChannel() + 1; }
  // Each client keeps one frame a channel: the scanners', then the merged two.
  std::size_t slots() const { return topics_.size() + 2; }

 private:
  std::vector<std::string> hello_;
  std::string payload_;          // the newest scan's JSON; its buffer is kept, so a scan allocates none
  lmsview::Merged mergedTaken_;  // the server thread's side of the merged hand-over

  static bool waiting(const Client& c) {
    return std::any_of(c.scans.begin(), c.scans.end(), [](const std::string& s) { return !s.empty(); });
  }

  // A message for one subscription: opcode, subscription, log time, payload.
  static std::string messageFrame(std::uint32_t subId, std::uint64_t logTime, std::string_view payload) {
    std::string message(13, '\0');
    message[0] = 1;  // message data
    for (int i = 0; i < 4; ++i)
      message[1 + static_cast<std::size_t>(i)] = static_cast<char>((subId >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i)
      message[5 + static_cast<std::size_t>(i)] = static_cast<char>((logTime >> (8 * i)) & 0xFF);
    message += payload;
    return serverFrame(Opcode::Binary, message);
  }

  // Where each scanner's frame sits in the base frame (foxglove.FrameTransforms).
  std::string transforms() const {
    nlohmann::json list = nlohmann::json::array();
    for (const ServeScanner& s : options.robot)
      list.push_back(
          {{"timestamp", {{"sec", 0}, {"nsec", 0}}},
           {"parent_frame_id", options.baseFrame},
           {"child_frame_id", s.frameId},
           {"translation", {{"x", s.x}, {"y", s.y}, {"z", 0}}},
           {"rotation", {{"x", 0}, {"y", 0}, {"z", std::sin(s.yaw / 2)}, {"w", std::cos(s.yaw / 2)}}}});
    return nlohmann::json{{"transforms", list}}.dump();
  }

  Client* find(int id) {
    for (Client& c : clients)
      if (c.id == id) return &c;
    return nullptr;
  }

  void acceptAll(Clock::time_point now) {
    for (int i = 0; i < 64; ++i) {
      const int id = sockets.accept();
      if (id < 0) return;
      // Full: a WebSocket client that never subscribed, the longest idle,
      // makes room; without one the newcomer hears 503.
      if (static_cast<int>(clients.size()) >= kMaxClients) {
        Client* idle = nullptr;
        for (Client& c : clients)
          if (c.state == Client::State::Open && c.subscriptions.empty() && !c.closeWhenSent &&
              (idle == nullptr || c.since < idle->since))
            idle = &c;
        if (idle != nullptr) {
          sockets.close(idle->id);
          std::erase_if(clients, [&](const Client& c) { return &c == idle; });
        }
      }
      if (static_cast<int>(clients.size()) >= kMaxClients) {
        // One try to say why; the socket is new, so its buffer takes it.
        const std::string busy = plain("503 Service Unavailable");
        sockets.send(id, reinterpret_cast<const std::uint8_t*>(busy.data()), static_cast<int>(busy.size()));
        sockets.close(id);
        continue;
      }
      Client c;
      c.id = id;
      c.since = c.lastProgress = now;
      clients.push_back(std::move(c));
    }
  }

  void readFrom(Client& c, Clock::time_point now) {
    std::uint8_t buf[16384];
    // Bounded per wake: a flood from one client cannot starve the rest.
    for (int round = 0; round < 8 && !c.dead; ++round) {
      const int n = sockets.receive(c.id, buf, sizeof buf);
      if (n == transport::ServerSockets::kPeerClosed) {
        // A request sent with its side closed after it (nc -N, health
        // checks) still gets its answer; a client with nothing to get goes.
        c.peerDone = true;
        const bool answering = c.outAt < c.out.size() || !c.control.empty() || c.closeWhenSent;
        if (!answering) c.dead = true;
        c.closeWhenSent = true;
        return;
      }
      if (n < 0) {
        c.dead = true;
        return;
      }
      if (n == 0) return;
      if (c.state == Client::State::Closing || c.closeWhenSent) continue;  // drained, not read
      c.in.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
      if (c.state == Client::State::Http) {
        handleHttp(c, now);
      } else {
        handleFrames(c, now);
      }
    }
  }

  void reply(Client& c, std::string text) {
    c.control.push_back(std::move(text));
    c.closeWhenSent = true;
    c.in.clear();
  }

  void handleHttp(Client& c, Clock::time_point now) {
    // A line ended by a bare LF is no HTTP/1.1 head: said at once, not after
    // waiting for an end that will not come.
    for (std::size_t lf = c.in.find('\n'); lf != std::string::npos; lf = c.in.find('\n', lf + 1))
      if (lf == 0 || c.in[lf - 1] != '\r') return reply(c, plain("400 Bad Request"));
    const std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (c.in.size() > kMaxHead) reply(c, plain("431 Request Header Fields Too Large"));
      return;
    }
    if (end + 4 > kMaxHead) return reply(c, plain("431 Request Header Fields Too Large"));
    Request req;
    if (!parseRequest(std::string_view(c.in).substr(0, end + 4), &req))
      return reply(c, plain("400 Bad Request"));
    int hosts = 0;
    for (const auto& [name, value] : req.headers) hosts += name == "host";
    if (hosts != 1) return reply(c, plain("400 Bad Request"));
    // Bound to loopback, only a loopback name may be asked for: a page from
    // elsewhere cannot reach us through a name it controls.
    if (loopbackOnly() && !isLoopbackHost(req.header("host"))) return reply(c, plain("403 Forbidden"));
    if (req.target != "/" && req.target != "/index.html") return reply(c, plain("404 Not Found"));
    if (req.method != "GET") return reply(c, plain("405 Method Not Allowed"));
    if (!hasToken(req.header("upgrade"), "websocket")) {
      return reply(c, response("200 OK", "text/html; charset=utf-8", pageHtml(),
                               "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
                               "style-src 'unsafe-inline'; connect-src ws: wss:; img-src data:\r\n"));
    }
    // On every address: a browser's page may read the stream only when it
    // came from this server (its Origin names the Host it asked), or from
    // this machine's loopback when that is where we listen. A client with
    // no Origin is no browser.
    if (!originAllowed(req.header("origin"), req.header("host"))) return reply(c, plain("403 Forbidden"));
    const std::string_view key = req.header("sec-websocket-key");
    if (!hasToken(req.header("connection"), "upgrade") || req.header("sec-websocket-version") != "13" ||
        key.size() != 24)
      return reply(c, plain("400 Bad Request"));
    if (!hasToken(req.header("sec-websocket-protocol"), "foxglove.websocket.v1"))
      return reply(c, plain("400 Bad Request"));
    c.control.push_back(
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: " +
        websocketAccept(key) + "\r\nSec-WebSocket-Protocol: foxglove.websocket.v1\r\n\r\n");
    for (const std::string& f : hello_) c.control.push_back(f);
    // The link's state as it is now: a client that comes while the link is
    // down learns so at once.
    {
      std::lock_guard lock(mutex);
      if (!linkStatus.empty()) c.control.push_back(serverFrame(Opcode::Text, linkStatus));
    }
    c.state = Client::State::Open;
    c.since = c.lastProgress = now;
    c.in.erase(0, end + 4);
    handleFrames(c, now);
  }

  void closeWith(Client& c, std::uint16_t code, Clock::time_point now) {
    const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    c.control.push_back(serverFrame(Opcode::Close, std::string_view(payload, 2)));
    c.scans.clear();
    c.state = Client::State::Closing;
    c.closeWhenSent = true;  // the TCP close follows our close frame
    c.since = now;
    c.in.clear();
  }

  void handleFrames(Client& c, Clock::time_point now) {
    while (c.state == Client::State::Open && !c.in.empty()) {
      Frame f;
      std::uint16_t code = 0;
      const int used = parseClientFrame(c.in, &f, &code);
      if (used == 0) return;
      if (used < 0) return closeWith(c, code, now);
      c.in.erase(0, static_cast<std::size_t>(used));
      switch (f.opcode) {
        case Opcode::Ping:
          if (c.control.size() < kMaxControl) c.control.push_back(serverFrame(Opcode::Pong, f.payload));
          break;
        case Opcode::Close:
          c.control.push_back(serverFrame(Opcode::Close, f.payload.substr(0, 2)));
          c.closeWhenSent = true;
          c.scans.clear();
          return;
        case Opcode::Text:
          onMessage(c, f.payload, now);
          break;
        default:
          break;  // binary (client publishing) is not offered; pongs need nothing
      }
    }
  }

  void onMessage(Client& c, std::string_view text, Clock::time_point now) {
    const nlohmann::json m = nlohmann::json::parse(text, nullptr, false);
    if (!m.is_object() || !m.contains("op") || !m["op"].is_string()) return closeWith(c, 1003, now);
    const std::string op = m["op"].get<std::string>();
    if (op == "subscribe" && m.contains("subscriptions") && m["subscriptions"].is_array()) {
      for (const auto& s : m["subscriptions"]) {
        if (!s.is_object() || !s.contains("id") || !s.contains("channelId") ||
            !s["id"].is_number_unsigned() || !s["channelId"].is_number_unsigned())
          continue;
        const auto id = s["id"].get<std::uint64_t>();
        const auto channel = s["channelId"].get<std::uint64_t>();
        const bool tf = !options.robot.empty() && channel == tfChannel();
        // A robot's stream also has /tf and the merged cloud and scan.
        const std::uint32_t last = options.robot.empty() ? tfChannel() - 1 : mergedChannel() + 1;
        if (channel < kScanChannel || channel > last || id > 0xFFFFFFFFu ||
            c.subscriptions.size() >= kMaxSubscriptions)
          continue;
        c.subscriptions.emplace_back(static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(channel));
        // Where the scanners sit does not change: it goes once, at once.
        if (tf && c.control.size() < kMaxControl)
          c.control.push_back(messageFrame(static_cast<std::uint32_t>(id), 0, transforms()));
      }
    } else if (op == "unsubscribe" && m.contains("subscriptionIds") && m["subscriptionIds"].is_array()) {
      for (const auto& s : m["subscriptionIds"]) {
        if (!s.is_number_unsigned()) continue;
        const auto id = s.get<std::uint64_t>();
        std::erase_if(c.subscriptions, [id](const auto& sub) { return sub.first == id; });
      }
    }
  }

  void takeHandOver() {
    std::vector<std::string> said;
    std::vector<std::pair<std::size_t, lmsview::Scan>> scans;
    bool mergedNow = false;
    {
      std::lock_guard lock(mutex);
      for (std::size_t k = 0; k < fresh.size(); ++k)
        if (fresh[k]) {
          scans.emplace_back(k, newest[k]);
          fresh[k] = false;
        }
      if (freshMerged) {
        std::swap(merged, mergedTaken_);
        freshMerged = false;
        mergedNow = true;
      }
      said.swap(statuses);
    }
    for (const std::string& s : said) {
      const std::string frame = serverFrame(Opcode::Text, s);
      for (Client& c : clients)
        if (c.state == Client::State::Open && c.control.size() < kMaxControl) c.control.push_back(frame);
    }
    // What nobody reads is not written out.
    for (const auto& [k, scan] : scans) {
      const auto channel = kScanChannel + static_cast<std::uint32_t>(k);
      if (!anyTakes(channel)) continue;
      formatFoxgloveLaserScan(payload_, scan, topics_[k].frameId);
      offer(channel, k, static_cast<std::uint64_t>(scan.stamp_ns));
    }
    if (!mergedNow) return;
    const auto logTime = static_cast<std::uint64_t>(mergedTaken_.scan.stamp_ns);
    if (anyTakes(mergedChannel())) {
      formatFoxglovePointCloud(payload_, mergedTaken_.points, logTime, options.baseFrame);
      offer(mergedChannel(), topics_.size(), logTime);
    }
    if (anyTakes(mergedChannel() + 1)) {
      formatFoxgloveLaserScan(payload_, mergedTaken_.scan, options.baseFrame);
      offer(mergedChannel() + 1, topics_.size() + 1, logTime);
    }
  }

  static bool takes(const Client& c, std::uint32_t channel) {
    return c.state == Client::State::Open && !c.closeWhenSent &&
           std::any_of(c.subscriptions.begin(), c.subscriptions.end(),
                       [channel](const auto& sub) { return sub.second == channel; });
  }
  bool anyTakes(std::uint32_t channel) const {
    return std::any_of(clients.begin(), clients.end(),
                       [channel](const Client& c) { return takes(c, channel); });
  }

  // payload_ to every client subscribed to `channel`, in its slot.
  void offer(std::uint32_t channel, std::size_t slot, std::uint64_t logTime) {
    for (Client& c : clients) {
      if (!takes(c, channel)) continue;
      // One frame a client and channel: its last subscription's (a viewer subscribes once).
      for (const auto& [subId, subscribed] : c.subscriptions) {
        if (subscribed != channel) continue;
        c.scans.resize(slots());
        c.scans[slot] = messageFrame(subId, logTime, payload_);  // the older one, if unsent, is replaced
      }
    }
  }

  void flush(Client& c, Clock::time_point now) {
    for (int round = 0; round < 64; ++round) {
      if (c.outAt >= c.out.size()) {
        c.out.clear();
        c.outAt = 0;
        if (!c.control.empty()) {
          c.out = std::move(c.control.front());
          c.control.pop_front();
        } else if (waiting(c)) {
          // The channels take turns, so no scanner's scans wait behind another's.
          for (std::size_t i = 0; i < c.scans.size(); ++i) {
            std::string& next = c.scans[(c.nextScan + i) % c.scans.size()];
            if (next.empty()) continue;
            c.out.swap(next);
            next.clear();
            c.nextScan = (c.nextScan + i + 1) % c.scans.size();
            break;
          }
        } else {
          c.lastProgress = now;  // nothing waits for it
          if (c.closeWhenSent) c.dead = true;
          return;
        }
      }
      const int n = sockets.send(c.id, reinterpret_cast<const std::uint8_t*>(c.out.data()) + c.outAt,
                                 static_cast<int>(c.out.size() - c.outAt));
      if (n < 0) {
        c.dead = true;
        return;
      }
      if (n == 0) return;
      c.outAt += static_cast<std::size_t>(n);
      c.lastProgress = now;
    }
  }

  void expire(Client& c, Clock::time_point now) {
    if (c.state == Client::State::Http && !c.closeWhenSent && now - c.since > kHandshakeTime) c.dead = true;
    if (c.state == Client::State::Open && c.subscriptions.empty() && now - c.since > kSubscribeTime)
      c.dead = true;  // a slot is for watching scans
    if (c.state == Client::State::Closing && now - c.since > kCloseTime) c.dead = true;
    if (now - c.lastProgress > kReadTime) c.dead = true;  // output waits and it takes none
  }

  bool loopbackOnly() const { return options.address.rfind("127.", 0) == 0; }

  bool originAllowed(std::string_view origin, std::string_view host) const {
    if (origin.empty()) return true;
    if (loopbackOnly() && isLoopbackHost(origin)) return true;
    // "http://HOST[:PORT]" whose HOST[:PORT] is the Host asked for.
    for (const std::string_view scheme : {"http://", "https://"}) {
      if (origin.substr(0, scheme.size()) != scheme) continue;
      const std::string_view rest = origin.substr(scheme.size());
      if (rest.size() != host.size()) return false;
      for (std::size_t i = 0; i < rest.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(rest[i])) !=
            std::tolower(static_cast<unsigned char>(host[i])))
          return false;
      return !host.empty();
    }
    return false;
  }
};

namespace {

// What a foxglove message of a frame begins with: its stamp, its frame and
// the pose of the frame's origin (none), then a comma.
void putMessageHead(std::string& out, std::int64_t stampNs, std::string_view frameId) {
  std::int32_t sec = 0;
  std::uint32_t nsec = 0;
  lms::splitStamp(stampNs, &sec, &nsec);
  out = "{\"timestamp\":{\"sec\":";
  putInt(out, sec);
  out += ",\"nsec\":";
  putInt(out, nsec);
  out += "},\"frame_id\":";
  putJsonString(out, frameId);
  out +=
      ",\"pose\":{\"position\":{\"x\":0,\"y\":0,\"z\":0},\"orientation\":{\"x\":0,\"y\":0,\"z\":0,\"w\":1}},";
}

}  // namespace

void formatFoxgloveLaserScan(std::string& out, const lmsview::Scan& scan, std::string_view frameId) {
  putMessageHead(out, scan.stamp_ns, frameId);
  out += "\"start_angle\":";
  putDouble(out, scan.geometry.angle_min);
  out += ",\"end_angle\":";
  putDouble(out, scan.geometry.angle_max());
  out += ",\"range_min\":";
  putDouble(out, scan.geometry.range_min);
  out += ",\"range_max\":";
  putDouble(out, scan.geometry.range_max);
  out += ",\"ranges\":";
  putRangesJson(out, scan);
  out += ",\"intensities\":[]}";
}

void formatFoxglovePointCloud(std::string& out, const std::vector<lmsview::MergedPoint>& points,
                              std::uint64_t stampNs, std::string_view frameId) {
  putMessageHead(out, static_cast<std::int64_t>(stampNs), frameId);
  out +=
      "\"point_stride\":16,\"fields\":[{\"name\":\"x\",\"offset\":0,\"type\":7},"
      "{\"name\":\"y\",\"offset\":4,\"type\":7},{\"name\":\"z\",\"offset\":8,\"type\":7},"
      "{\"name\":\"scanner\",\"offset\":12,\"type\":5}],\"data\":\"";
  // Little-endian float32 x, y, z and uint32 scanner (foxglove's FLOAT32 and UINT32).
  std::string bytes;
  bytes.reserve(points.size() * 16);
  const auto put32 = [&bytes](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  for (const lmsview::MergedPoint& p : points) {
    put32(std::bit_cast<std::uint32_t>(p.x));
    put32(std::bit_cast<std::uint32_t>(p.y));
    put32(std::bit_cast<std::uint32_t>(p.z));
    put32(p.scanner);
  }
  out += base64(bytes);
  out += "\"}";
}

LiveServer::LiveServer() : impl_(std::make_unique<Impl>()) {}

LiveServer::~LiveServer() {
  stop();
}

std::error_code LiveServer::open(const ServeOptions& options) {
  impl_->options = options;
  impl_->topics_.clear();
  if (options.robot.empty()) impl_->topics_.push_back({"/scan", options.frameId});
  for (const ServeScanner& s : options.robot) impl_->topics_.push_back({s.topic, s.frameId});
  impl_->newest.assign(impl_->topics_.size(), {});
  impl_->fresh.assign(impl_->topics_.size(), false);
  return impl_->sockets.listen(options.address, options.port);
}

std::uint16_t LiveServer::port() const {
  return impl_->sockets.port();
}

void LiveServer::start() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->running = true;
  }
  impl_->thread = std::thread([this] { impl_->run(); });
}

void LiveServer::publish(const lmsview::Scan& scan, std::size_t scanner) {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->running || scanner >= impl_->newest.size()) return;
    impl_->newest[scanner] = scan;
    impl_->fresh[scanner] = true;
  }
  if (impl_->watched.load(std::memory_order_relaxed)) impl_->sockets.wake();
}

void LiveServer::publishMerged(const lmsview::Merged& merged) {
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->running || impl_->options.robot.empty()) return;
    impl_->merged = merged;
    impl_->freshMerged = true;
  }
  if (impl_->watched.load(std::memory_order_relaxed)) impl_->sockets.wake();
}

void LiveServer::linkState(bool up, std::string_view text) {
  const std::string status =
      nlohmann::json{
          {"op", "status"}, {"level", up ? 0 : 1}, {"message", up ? "link open" : std::string(text)}}
          .dump();
  {
    std::lock_guard lock(impl_->mutex);
    impl_->linkStatus = status;
    if (!impl_->running || impl_->statuses.size() >= 8) return;
    impl_->statuses.push_back(status);
  }
  impl_->sockets.wake();
}

void LiveServer::robotStatus(int level, std::string_view lines) {
  const std::string status = nlohmann::json{
      {"op", "status"},
      {"level", level},
      {"message", std::string(lines)},
      {"id", "robot"}}.dump();
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->running || impl_->statuses.size() >= 8) return;
    impl_->statuses.push_back(status);
  }
  impl_->sockets.wake();
}

void LiveServer::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->running = false;
  }
  impl_->stopping.store(true, std::memory_order_release);
  impl_->sockets.wake();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace app::serve
