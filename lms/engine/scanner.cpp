// lmsview::Scanner: the public face of the driver. One driver, one
// acquisition thread and a bounded queue per Scanner; nothing global.
//
// Threads: the caller's threads call the members; the acquisition thread
// runs the driver's loop and, through its observer and event hooks, fills
// the queue and runs the callbacks. `mutex` guards the queue and the run's
// state; `changed` wakes next() and open(). Each subscription has a mutex
// held while its callback runs, so ending one waits for a call in progress.
// The acquisition thread holds a reference to the shared state, so a
// Scanner destroyed inside a callback leaves nothing dangling.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "lms/protocol/driver.h"
#include "lms/engine/link_name.h"
#include "lms/formats/recording.h"
#include "lmsview/scanner.h"

namespace lmsview {

namespace {

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "lmsview"; }
  std::string message(int value) const override {
    switch (static_cast<errc>(value)) {
      case errc::timeout:
        return "no scan within the time allowed";
      case errc::closed:
        return "the scanner is closed";
      case errc::link_refused:
        return "connection refused: nothing listens at that address and port";
      case errc::link_lost:
        return "the link to the scanner was lost";
      case errc::device_busy:
        return "the serial device is in use by another program";
      case errc::permission_denied:
        return "permission denied: you may not open the serial device";
      case errc::no_such_device:
        return "no such serial device";
      case errc::bad_link_name:
        return "not a link name: use tcp://HOST[:PORT] or serial://DEVICE";
      case errc::unreachable:
        return "no answer from that address";
      case errc::already_open:
        return "the scanner is already open";
      case errc::link_failed:
        return "the link failed";
      case errc::end_of_recording:
        return "the recording has no more scans";
      case errc::bad_recording:
        return "the recording cannot be read";
      case errc::bad_topic:
        return "not a ROS 2 topic name: use /scan or /front/scan (letters, digits, '_')";
      case errc::bad_domain:
        return "not a DDS domain: use 0 to 232 (or ROS_DOMAIN_ID so set)";
      case errc::dds_failed:
        return "DDS could not start (see CYCLONEDDS_URI)";
    }
    return "unknown lmsview error";
  }
};

// The errc for an OS error that ended an open.
std::error_code fromOs(std::error_code ec) {
  if (!ec) return make_error_code(errc::link_failed);
  if (ec == std::errc::connection_refused) return errc::link_refused;
  if (ec == std::errc::device_or_resource_busy) return errc::device_busy;
  if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
    return errc::permission_denied;
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::no_such_device)
    return errc::no_such_device;
  if (ec == std::errc::invalid_argument) return errc::bad_link_name;
  if (ec == std::errc::timed_out || ec == std::errc::host_unreachable || ec == std::errc::network_unreachable)
    return errc::unreachable;
  return errc::link_failed;
}

}  // namespace

const std::error_category& error_category() noexcept {
  static const Category category;
  return category;
}

const char* version() noexcept {
  return LMS_VERSION;
}

struct Subscription::State {
  std::mutex inUse;  // held while the callback runs
  std::atomic<std::thread::id> caller{};
  std::atomic<bool> active{true};
  std::function<void(const Scan&)> onScan;
  std::function<void(const Event&)> onEvent;
};

Subscription::Subscription(std::shared_ptr<State> state) : state_(std::move(state)) {}
Subscription::Subscription(Subscription&&) noexcept = default;
Subscription& Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
  }
  return *this;
}
Subscription::~Subscription() {
  reset();
}

void Subscription::reset() {
  if (!state_) return;
  state_->active.store(false, std::memory_order_release);
  // Inside its own callback the call in progress is this one.
  if (state_->caller.load(std::memory_order_acquire) != std::this_thread::get_id()) {
    std::lock_guard wait(state_->inUse);
  }
  state_.reset();
}

struct Scanner::Impl : std::enable_shared_from_this<Impl> {
  explicit Impl(Options o) : options(std::move(o)) {}

  ~Impl() {
    // The last reference can be the acquisition thread's own, when the
    // Scanner went away inside a callback.
    if (thread.joinable()) {
      if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
      else
        thread.join();
    }
  }

  template <class F>
  decltype(auto) withDriver(F&& f) {
    return serial ? f(*serial) : f(*net);
  }

  std::error_code open();
  std::error_code next(Scan& out, std::chrono::milliseconds timeout);
  void close();
  void onScan(const lms::ScanView& view);
  void onEvent(const lms::DriverEvent& e);
  template <class Arg>
  void dispatch(const Arg& arg);
  void subscribe(std::shared_ptr<Subscription::State> state) {
    std::lock_guard lock(subscriptionsMutex);
    subscriptions.push_back(std::move(state));
  }
  void acquire();
  std::error_code openRecording(std::unique_lock<std::mutex>& lock);
  void play();
  lms::Recording recording;

  // Joins the acquisition thread once, from whichever caller gets there
  // (never from the thread itself).
  void joinThread() {
    std::lock_guard lock(joinMutex);
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
  }

  Options options;
  lms::LinkName link;
  std::mutex joinMutex;
  std::unique_ptr<lms::SerialLms> serial;
  std::unique_ptr<lms::NetLms> net;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<Scan> queue;
  std::uint64_t nextSeq = 0;
  std::uint64_t dropped = 0;
  bool started = false;
  bool running = false;  // the acquisition thread is in the driver's loop
  bool closed = false;
  bool openDecided = false;
  std::error_code openResult;
  std::error_code endError;  // why acquisition ended by itself

  std::mutex subscriptionsMutex;
  std::vector<std::shared_ptr<Subscription::State>> subscriptions;
};

std::error_code Scanner::Impl::open() {
  std::unique_lock lock(mutex);
  if (closed) return errc::closed;
  if (started) return errc::already_open;
  if (!lms::parseLinkName(options.link, &link)) return errc::bad_link_name;
  if (!link.recording.empty()) return openRecording(lock);
  started = true;
  const char* family = options.family.c_str();
  if (link.serial)
    serial = std::make_unique<lms::SerialLms>(link.device.c_str(), family);
  else
    net = std::make_unique<lms::NetLms>(link.address.c_str(), link.port, family);
  withDriver([&](auto& d) {
    d.setInterval(static_cast<int>(std::clamp<std::int64_t>(options.interval.count(), 0, 3'600'000)));
    d.setReconnect({.enabled = options.reconnect});
    // The TCP client's start-up pauses are lmsview's long-standing timing;
    // a program opening a scanner gets its first scan sooner without them.
    d.setTiming({.clientStartPauseMs = 10});
    if (link.serial) {
      if (options.baud == 0)
        d.setFindRate(true);
      else
        d.setBaud(options.baud);
      d.setScannerBaud(options.scanner_baud, false);
    }
    d.setScanObserver([this](const lms::ScanView& v) { onScan(v); });
    d.setEvents([this](const lms::DriverEvent& e) { onEvent(e); });
    return 0;
  });
  running = true;
  thread = std::thread([self = shared_from_this()] { self->acquire(); });
  if (options.reconnect) return {};
  // The first open is bounded (three attempts of at most a few seconds).
  changed.wait(lock, [this] { return openDecided; });
  if (!openResult) return {};
  const std::error_code result = openResult;
  lock.unlock();
  joinThread();
  return result;
}

void Scanner::Impl::acquire() {
  withDriver([](auto& d) { return d.run(); });
  const lms::RunOutcome outcome = withDriver([](auto& d) { return d.outcome(); });
  std::error_code why;
  if (outcome == lms::RunOutcome::LinkLost) why = errc::link_lost;
  if (outcome == lms::RunOutcome::ConnectFailed)
    why = fromOs(withDriver([](auto& d) { return d.failureError(); }));
  {
    std::lock_guard lock(mutex);
    running = false;
    endError = why;
    if (!openDecided) {
      openDecided = true;
      openResult = why ? why : make_error_code(errc::closed);
    }
  }
  changed.notify_all();
}

// "file:RECORDING": the recording's scans, `interval` apart, then its end.
std::error_code Scanner::Impl::openRecording(std::unique_lock<std::mutex>& lock) {
  std::string why, notice;
  if (!recording.load(link.recording, &why, &notice)) return errc::bad_recording;
  started = true;
  running = true;
  openDecided = true;
  lock.unlock();
  dispatch(Event{Event::Kind::opened,
                 "opened recording " + link.recording + " (" + std::to_string(recording.size()) + " scans)"});
  lock.lock();
  thread = std::thread([self = shared_from_this()] { self->play(); });
  return {};
}

void Scanner::Impl::play() {
  const auto pause = std::max(options.interval, std::chrono::milliseconds(0));
  std::uint16_t words[lms::kScanPoints];
  for (std::size_t i = 0; i < recording.size(); ++i) {
    const lms::RangeWords w = recording.scan(static_cast<std::int64_t>(i));
    std::copy(w.begin(), w.end(), words);
    const auto stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    onScan({nullptr, nullptr, words, lms::kScanPoints, stamp});
    std::unique_lock lock(mutex);
    if (changed.wait_for(lock, pause, [this] { return closed; })) return;
  }
  {
    std::lock_guard lock(mutex);
    running = false;
    endError = errc::end_of_recording;
  }
  changed.notify_all();
}

void Scanner::Impl::onScan(const lms::ScanView& v) {
  Scan scan;
  {
    std::lock_guard lock(mutex);
    lms::toScan(v, nextSeq++, &scan);
    while (queue.size() >= std::max<std::size_t>(options.queue, 1)) {
      queue.pop_front();
      ++dropped;
    }
    queue.push_back(scan);
  }
  changed.notify_all();
  dispatch(scan);
}

void Scanner::Impl::onEvent(const lms::DriverEvent& e) {
  using Kind = lms::DriverEvent::Kind;
  Event out;
  switch (e.kind) {
    case Kind::Opened:
      out = {Event::Kind::opened, "opened " + e.text};
      {
        std::lock_guard lock(mutex);
        if (!openDecided) {
          openDecided = true;
          openResult = {};
        }
      }
      changed.notify_all();
      break;
    case Kind::OpenFailed:
      out = {Event::Kind::open_failed, e.text};
      break;
    case Kind::Lost:
      out = {Event::Kind::lost, "link lost: " + e.text};
      break;
    case Kind::Reconnecting:
      out = {Event::Kind::reconnecting,
             "reconnecting to " + e.text + " in " + std::to_string(e.delayMs) + " ms (attempt " +
                 std::to_string(e.attempt) + ")",
             std::chrono::milliseconds(e.delayMs)};
      break;
    case Kind::Rejected:
      out = {Event::Kind::reply_rejected, "reply rejected: " + e.text};
      break;
    case Kind::RateFound:
      out = {
          Event::Kind::baud_found, "the scanner answered at " + std::to_string(e.rate) + " baud", {}, e.rate};
      break;
    case Kind::NoRateFound:
      out = {Event::Kind::open_failed, "no rate got an answer (tried " + e.text + ")"};
      break;
    case Kind::RateSwitched:
      out = {
          Event::Kind::baud_switched, "scanner switched to " + std::to_string(e.rate) + " baud", {}, e.rate};
      break;
    case Kind::RateNotSwitched:
      out = {Event::Kind::baud_switched,
             "the scanner did not switch to " + std::to_string(e.rate) + " baud (" + e.text + ")",
             {},
             e.from};
      break;
    case Kind::RateRestored:
      out = {Event::Kind::baud_switched,
             "scanner switched back to " + std::to_string(e.rate) + " baud",
             {},
             e.rate};
      break;
    case Kind::Silent:
      return;
  }
  dispatch(out);
}

template <class Arg>
void Scanner::Impl::dispatch(const Arg& arg) {
  std::vector<std::shared_ptr<Subscription::State>> targets;
  {
    std::lock_guard lock(subscriptionsMutex);
    std::erase_if(subscriptions, [](const auto& s) { return !s->active.load(std::memory_order_acquire); });
    targets = subscriptions;
  }
  for (const auto& s : targets) {
    std::lock_guard inCall(s->inUse);
    if (!s->active.load(std::memory_order_acquire)) continue;
    s->caller.store(std::this_thread::get_id(), std::memory_order_release);
    if constexpr (std::is_same_v<Arg, Scan>) {
      if (s->onScan) s->onScan(arg);
    } else {
      if (s->onEvent) s->onEvent(arg);
    }
    s->caller.store(std::thread::id(), std::memory_order_release);
  }
}

std::error_code Scanner::Impl::next(Scan& out, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  changed.wait_for(lock, timeout, [this] { return !queue.empty() || closed || (started && !running); });
  if (closed) return errc::closed;
  if (!queue.empty()) {
    out = queue.front();
    queue.pop_front();
    return {};
  }
  if (!started || !running) return endError ? endError : make_error_code(errc::closed);
  return errc::timeout;
}

void Scanner::Impl::close() {
  bool haveDriver = false;
  {
    std::lock_guard lock(mutex);
    closed = true;
    haveDriver = serial || net;
    if (!openDecided) {
      openDecided = true;
      openResult = errc::closed;
    }
  }
  changed.notify_all();
  if (haveDriver) withDriver([](auto& d) { return d.stop(); });
  // Inside a callback the acquisition thread is the caller: it ends on its
  // own once the callback returns, and whoever holds the last reference joins it.
  joinThread();
}

Scanner::Scanner(Options options) : impl_(std::make_shared<Impl>(std::move(options))) {}
Scanner::Scanner(Scanner&&) noexcept = default;
Scanner& Scanner::operator=(Scanner&& other) noexcept {
  if (this != &other) {
    close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}
Scanner::~Scanner() {
  close();
}

std::error_code Scanner::open() {
  return impl_ ? impl_->open() : make_error_code(errc::closed);
}

std::error_code Scanner::next(Scan& out, std::chrono::milliseconds timeout) {
  return impl_ ? impl_->next(out, timeout) : make_error_code(errc::closed);
}

void Scanner::close() {
  if (impl_) impl_->close();
}

Subscription Scanner::on_scan(std::function<void(const Scan&)> callback) {
  auto state = std::make_shared<Subscription::State>();
  state->onScan = std::move(callback);
  if (impl_) impl_->subscribe(state);
  return Subscription(state);
}

Subscription Scanner::on_event(std::function<void(const Event&)> callback) {
  auto state = std::make_shared<Subscription::State>();
  state->onEvent = std::move(callback);
  if (impl_) impl_->subscribe(state);
  return Subscription(state);
}

Stats Scanner::stats() const {
  Stats s;
  if (!impl_) return s;
  std::lock_guard lock(impl_->mutex);
  s.dropped = impl_->dropped;
  if (!impl_->serial && !impl_->net) return s;
  const lms::DriverStats d = impl_->withDriver([](auto& driver) { return driver.stats(); });
  s.requests = static_cast<std::uint64_t>(d.requests);
  s.scans = static_cast<std::uint64_t>(d.scans);
  s.rejected_no_reply = static_cast<std::uint64_t>(d.noReply);
  s.rejected_not_a_reply = static_cast<std::uint64_t>(d.notAReply);
  s.rejected_too_short = static_cast<std::uint64_t>(d.tooShort);
  s.rejected_checksum = static_cast<std::uint64_t>(d.badChecksum);
  s.reconnects = static_cast<std::uint64_t>(d.reconnects);
  return s;
}

}  // namespace lmsview
