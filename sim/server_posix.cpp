// SPDX-License-Identifier: Apache-2.0
#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/posix/io.h"
#include "platform/posix/serial_line.h"
#include "platform/posix/wake_channel.h"

namespace sim {

using platform::errorText;
using platform::lastOsError;
using platform::processMillis;
using platform::Ready;
using platform::UniqueFd;
using platform::waitWritable;

namespace {

bool isLoopback(const in_addr& a) {
  return (ntohl(a.s_addr) >> 24) == 127;
}

}  // namespace

SimServer::SimServer(const SimFaults& faults, const SimOptions& options)
    : engine_(faults, options.seed, options.replay, options.setup), options_(options) {
  engine_.onScan = [this](std::int64_t scanNo, ScanFate fate, const RangeWords& words) {
    plannedScan_ = scanNo;
    if (!options_.scanLog) return;
    std::fprintf(options_.scanLog, "%lld %s", static_cast<long long>(scanNo), scanFateName(fate));
    for (std::uint16_t w : words) std::fprintf(options_.scanLog, " %u", static_cast<unsigned>(w));
    std::fputc('\n', options_.scanLog);
    std::fflush(options_.scanLog);
  };
}

SimCounters SimServer::counters() const {
  std::lock_guard lock(countersMutex_);
  return counters_;
}

bool SimServer::listenTcp(const std::string& address, std::uint16_t port, bool anyAddress,
                          std::string* error) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    *error = "not a dotted IPv4 address: " + address;
    return false;
  }
  if (!isLoopback(a.sin_addr) && !anyAddress) {
    *error = "refusing to listen on " + address + " outside 127.0.0.0/8 (use --any-address)";
    return false;
  }
  listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (!listener_.valid() || ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_.get(), SOMAXCONN) != 0) {
    *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + errorText(lastOsError());
    listener_.reset();
    return false;
  }
  tcp_ = true;
  return true;
}

std::uint16_t SimServer::boundPort() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (!listener_.valid() || ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

bool SimServer::createPty(std::string* error) {
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  char name[128];
  if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
      ::ptsname_r(master.get(), name, sizeof name) != 0) {
    *error = "cannot create a pseudo-terminal: " + errorText(lastOsError());
    return false;
  }
  // Raw from the start, so nothing the reader sends is echoed or translated
  // before it configures the line itself.
  ptySlave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!ptySlave_.valid()) {
    *error = std::string("cannot open ") + name + ": " + errorText(lastOsError());
    return false;
  }
  if (const auto ec = platform::configureRawLine(ptySlave_.get(), options_.baud)) {
    *error = std::string("cannot set up ") + name + " at " + std::to_string(options_.baud) +
             " baud: " + errorText(ec);
    return false;
  }
  // Writes never block the emulator: a stream nobody reads must not hold it.
  ::fcntl(master.get(), F_SETFL, ::fcntl(master.get(), F_GETFL) | O_NONBLOCK);
  link_ = std::move(master);
  devicePath_ = name;
  return true;
}

bool SimServer::openDevice(const std::string& path, std::string* error) {
  link_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!link_.valid()) {
    *error = "cannot open " + path + ": " + errorText(lastOsError());
    return false;
  }
  // A regular file or /dev/null would take the replies and never answer.
  if (::isatty(link_.get()) != 1) {
    *error = path + " is not a serial device (a terminal device is needed)";
    link_.reset();
    return false;
  }
  if (const auto ec = platform::configureRawLine(link_.get(), options_.baud)) {
    *error = "cannot set up " + path + " at " + std::to_string(options_.baud) + " baud: " + errorText(ec);
    link_.reset();
    return false;
  }
  devicePath_ = path;
  return true;
}

bool SimServer::pause(int ms) {
  if (ms <= 0) return !stopping();
  wake_.waitFor(ms);
  return !stopping();
}

bool SimServer::pauseUntil(std::chrono::steady_clock::time_point when) {
  // Long waits on the wake channel (a stop ends them), the last stretch to
  // the microsecond: a paced line at 500000 baud moves 50 bytes a millisecond.
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
  if (left.count() > 2 && !pause(static_cast<int>(left.count()) - 1)) return false;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  const timespec target{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
  }
  return !stopping();
}

bool SimServer::writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    ssize_t w = tcp_ ? ::send(fd, p + done, n - done, MSG_NOSIGNAL) : ::write(fd, p + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno == EAGAIN) {
      if (waitWritable(fd, 1000) != Ready::Yes) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool SimServer::sendPlan(int fd, const std::vector<Piece>& plan) {
  using Clock = std::chrono::steady_clock;
  const bool paced = options_.pace && !tcp_;
  replyBeganNs_ = 0;
  std::size_t sent = 0;  // bytes of the plan before this piece
  for (const Piece& piece : plan) {
    if (!pause(piece.delayMs)) return false;
    // A line carries one byte at a time: nothing goes before the last is out.
    if (paced && !pauseUntil(lineFree_)) return false;
    // The reply begins behind the acknowledge, the plan's first byte.
    if (replyBeganNs_ == 0 && sent + piece.bytes.size() > 1) replyBeganNs_ = platform::wallClockNanos();
    sent += piece.bytes.size();
    if (!paced) {
      if (!writeAll(fd, piece.bytes.data(), piece.bytes.size())) return false;
      continue;
    }
    // At 8N1 a byte takes ten bit times: slices of about a millisecond of
    // the line (ten bytes at least), each written when its last byte would
    // have arrived, so a reader never has a byte before its time.
    const double nsPerByte = 1e10 / options_.baud;
    const std::size_t slice = std::max<std::size_t>(10, static_cast<std::size_t>(options_.baud / 10000));
    const auto start = Clock::now();
    const auto at = [&](std::size_t bytes) {
      return start +
             std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(bytes) * nsPerByte));
    };
    lineFree_ = at(piece.bytes.size());
    for (std::size_t done = 0; done < piece.bytes.size();) {
      const std::size_t n = std::min(slice, piece.bytes.size() - done);
      if (!pauseUntil(at(done + n))) return false;
      if (!writeAll(fd, piece.bytes.data() + done, n)) return false;
      done += n;
    }
  }
  return true;
}

void SimServer::note(const std::string& what) {
  if (!options_.log) return;
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  std::fprintf(options_.log, "lmssim: %s (monotonic %lld ns)\n", what.c_str(),
               static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
  std::fflush(options_.log);
}

int SimServer::streamWaitMs() {
  using namespace std::chrono;
  const auto now = steady_clock::now();
  if (!streamOn_) {
    streamOn_ = true;
    mirrorStart_ = now;
    lastStreamed_ = -1;
  }
  const auto period = nanoseconds(1'000'000'000LL * turnsPerScan(engine_.points()) / kMirrorTurnsPerSecond);
  // Scan k is finished at mirrorStart_ + (k + 1) periods; the next to go is
  // the newest finished, once one after the last sent is.
  const auto nextDone = mirrorStart_ + period * (lastStreamed_ + 2);
  const auto due = std::max(nextDone, options_.pace && !tcp_ ? lineFree_ : now);
  return static_cast<int>(std::max<std::int64_t>(0, ceil<milliseconds>(due - now).count()));
}

// A line of --timing-log for the scan just sent: its number, when its last
// byte went (monotonic), when its reply began, and the wall clock.
void SimServer::logTiming() {
  if (!options_.timingLog) return;
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  std::fprintf(options_.timingLog, "%lld %lld %lld %lld\n", static_cast<long long>(plannedScan_),
               static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec,
               static_cast<long long>(replyBeganNs_), static_cast<long long>(platform::wallClockNanos()));
  std::fflush(options_.timingLog);
}

bool SimServer::sendStreamed() {
  using namespace std::chrono;
  const auto period = nanoseconds(1'000'000'000LL * turnsPerScan(engine_.points()) / kMirrorTurnsPerSecond);
  lastStreamed_ =
      std::max<std::int64_t>(lastStreamed_ + 1, (steady_clock::now() - mirrorStart_) / period - 1);
  std::vector<std::uint8_t> bytes = engine_.streamTelegram();
  // What nobody reads is lost, as on a real line: a reader that opens the
  // pseudo-terminal later does not get a backlog of old scans.
  if (int queued = 0; ptySlave_.valid() && ::ioctl(ptySlave_.get(), FIONREAD, &queued) == 0 && queued > 4096)
    ::tcflush(ptySlave_.get(), TCIFLUSH);
  // A reader at another rate than the line's gets what a UART makes of it: noise.
  if (ptySlave_.valid() && !platform::lineRunsAt(ptySlave_.get(), options_.baud))
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0xF0});
  plannedScan_ = engine_.counters().scans - 1;
  {
    std::lock_guard lock(countersMutex_);
    counters_ = engine_.counters();
  }
  const bool sent = sendPlan(link_.get(), {{0, std::move(bytes)}});
  // A reader that set another rate while the scan was going out would have
  // had noise too: what it has not read yet is dropped.
  if (ptySlave_.valid() && !platform::lineRunsAt(ptySlave_.get(), options_.baud))
    ::tcflush(ptySlave_.get(), TCIFLUSH);
  if (sent) logTiming();
  if (!sent && tcp_) {
    closeLink();
    return false;
  }
  return true;
}

// One client at a time, as a scanner: the next is taken from the backlog
// once the current one has gone (see waitForInput).
void SimServer::acceptClient() {
  UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!client.valid()) return;
  link_ = std::move(client);
  const int one = 1;
  ::setsockopt(link_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (options_.verbose && options_.log) std::fprintf(options_.log, "lmssim: client connected\n");
}

void SimServer::closeLink() {
  link_.reset();
  parser_.reset();
  if (!tcp_) {
    // A serial line that closes is a device gone for good.
    ptySlave_.reset();
    linkClosedForGood_ = true;
  }
}

// Sleeps until the link, the listener, standard input or a wake-up needs
// attention (bounded by `timeoutMs`, < 0: none); accepts a new client.
SimServer::Input SimServer::waitForInput(int timeoutMs) {
  // While a client is served, others wait in the listener's backlog (their
  // connects complete; their requests are answered once they are taken): a
  // client never has a connection closed under it. A client that has gone
  // shows as the end of its input, so it cannot hold the emulator.
  pollfd fds[4];
  nfds_t n = 0;
  fds[n++] = {wake_.native().readFd, POLLIN, 0};
  const nfds_t linkAt = n;
  if (link_.valid()) fds[n++] = {link_.get(), POLLIN, 0};
  const nfds_t listenerAt = n;
  if (listener_.valid() && !link_.valid()) fds[n++] = {listener_.get(), POLLIN, 0};
  const nfds_t stdinAt = n;
  if (options_.stopOnEof) fds[n++] = {0, POLLIN, 0};
  const int rc = ::poll(fds, n, timeoutMs);
  if (rc < 0 && errno != EINTR) return Input::End;
  if (rc <= 0) return Input::Nothing;
  if (options_.stopOnEof && fds[stdinAt].revents) {
    char buf[256];
    const ssize_t r = ::read(0, buf, sizeof buf);
    if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) return Input::End;
  }
  if (listener_.valid() && listenerAt < n && fds[listenerAt].revents) {
    acceptClient();
    return Input::Nothing;
  }
  if (!link_.valid() || linkAt >= n || fds[linkAt].revents == 0) return Input::Nothing;
  return Input::Link;
}

// Answers one telegram: plans, logs, sends. False when serving is over
// (the replay is done) or the link was closed.
bool SimServer::answer(const ParsedTelegram& t, bool* over) {
  std::vector<Piece> plan;
  plannedScan_ = -1;
  engine_.handle(t, processMillis(), plan);
  {
    std::lock_guard lock(countersMutex_);
    counters_ = engine_.counters();
  }
  if (options_.verbose && options_.log) {
    std::fprintf(options_.log, "lmssim: %s\n", engine_.lastAction().c_str());
    std::fflush(options_.log);
  }
  if (!engine_.modeNote().empty()) note(engine_.modeNote());
  // The stop's acknowledge late: one more telegram goes first.
  if (engine_.takeLateStop() && !sendStreamed()) return false;
  const bool wasStreaming = streamOn_;
  const bool sent = sendPlan(link_.get(), plan);
  if (!engine_.streaming()) {
    streamOn_ = false;
    if (wasStreaming && sent) note("continuous output ended");
  }
  if (const int rate = engine_.takeRateChange(); rate != 0 && !tcp_) switchRate(rate);
  if (sent && plannedScan_ >= 0) logTiming();
  if (!sent && tcp_) {
    closeLink();
    return false;
  }
  if (options_.replay && options_.replayOnce &&
      engine_.counters().scans >= static_cast<std::int64_t>(options_.replay->size())) {
    if (options_.verbose && options_.log) std::fprintf(options_.log, "lmssim: replay done\n");
    *over = true;
    return false;
  }
  if (engine_.closeNow()) {
    if (options_.verbose && options_.log) std::fprintf(options_.log, "lmssim: closing the link\n");
    closeLink();
    return false;
  }
  return true;
}

// The line's own rate follows an acknowledged operating-mode telegram: the
// pacing, and on a pseudo-terminal the setting a reader must match.
void SimServer::switchRate(int rate) {
  options_.baud = rate;
  const int fd = ptySlave_.valid() ? ptySlave_.get() : link_.get();
  if (const auto ec = platform::configureRawLine(fd, rate); ec && options_.log)
    std::fprintf(options_.log, "lmssim: cannot set the line to %d baud: %s\n", rate, errorText(ec).c_str());
}

// Reads what the link brought and answers every whole telegram in it.
// False when serving is over.
bool SimServer::readAndAnswer() {
  std::uint8_t buf[1024];
  const ssize_t r = ::read(link_.get(), buf, sizeof buf);
  if (r < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (r <= 0) {
    if (options_.verbose && options_.log) std::fprintf(options_.log, "lmssim: client gone\n");
    if (tcp_)
      closeLink();
    else
      pause(50);  // the reader closed the pseudo-terminal; it can open it again
    return true;
  }
  // On a pseudo-terminal both ends share one line setting: a reader that
  // set another rate would, on a real line, send the scanner only garbled
  // bytes, so nothing is answered.
  if (ptySlave_.valid() && !platform::lineRunsAt(ptySlave_.get(), options_.baud)) {
    if (options_.verbose && options_.log)
      std::fprintf(options_.log, "lmssim: the reader's rate is not ours\n");
    return true;
  }
  // A partial telegram left standing for a second is a broken one.
  if (parser_.partial() && processMillis() - lastInput_ > 1000) parser_.reset();
  lastInput_ = processMillis();
  parser_.feed(buf, static_cast<int>(r));
  ParsedTelegram t;
  bool over = false;
  while (parser_.next(t)) {
    if (!answer(t, &over)) break;
  }
  return !(linkClosedForGood_ || over);
}

void SimServer::serve() {
  const std::int64_t endAt =
      options_.maxSeconds > 0 ? processMillis() + static_cast<std::int64_t>(options_.maxSeconds * 1000) : -1;
  while (!stopping()) {
    const std::int64_t now = processMillis();
    if (endAt >= 0 && now >= endAt) break;
    int timeout = endAt >= 0 ? static_cast<int>(std::max<std::int64_t>(endAt - now, 1)) : -1;
    // A streaming scanner sends whether it is asked or not, to whoever holds the line.
    const bool streaming = engine_.streaming() && link_.valid();
    if (!streaming) streamOn_ = false;
    if (streaming) timeout = timeout < 0 ? streamWaitMs() : std::min(timeout, streamWaitMs());
    const Input in = waitForInput(timeout);
    if (in == Input::End) break;
    if (in == Input::Link && !readAndAnswer()) break;
    if (engine_.streaming() && link_.valid() && streamOn_ && streamWaitMs() == 0 && !sendStreamed()) continue;
  }
  // A server that stops serving lets go of its link, as its process would.
  link_.reset();
  ptySlave_.reset();
  listener_.reset();
  std::lock_guard lock(countersMutex_);
  counters_ = engine_.counters();
}

}  // namespace sim
