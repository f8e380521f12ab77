// SPDX-License-Identifier: Apache-2.0
#include "lms/engine/engine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "lms/engine/errors.h"
#include "lms/protocol/reply.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace lms {

using lmsview::errc;
using lmsview::Event;

Subscriber::Subscriber() : pid(platform::processId()) {}

void Subscriber::end() {
  active.store(false, std::memory_order_release);
  // Inside its own callback the call in progress is this one; in a forked
  // child no call is in progress, whatever the copied mutex says.
  if (caller.load(std::memory_order_acquire) != std::this_thread::get_id() && pid == platform::processId()) {
    std::lock_guard wait(inUse);
  }
}

std::int64_t Engine::ownProcess() {
  return platform::processId();
}

namespace {

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

Engine::Engine(EngineOptions options) : options_(std::move(options)) {}

Engine::~Engine() {
  stop();
  // The last reference can be the acquisition thread's own, when the
  // Scanner went away inside a callback.
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

namespace {

// `f` on the source's alternative; with no source, `f`'s result type made
// empty. The alternatives are looked at one by one: no std::visit, which
// may throw, since a destructor calls this too.
template <class Source, class F>
auto visitSource(Source& source, F&& f) {
  using R = decltype(f(std::declval<std::conditional_t<std::is_const_v<Source>, const Player&, Player&>>()));
  if (auto* serial = std::get_if<SerialAcquisition>(&source)) return f(*serial);
  if (auto* net = std::get_if<NetAcquisition>(&source)) return f(*net);
  if (auto* player = std::get_if<Player>(&source)) return f(*player);
  return R();
}

}  // namespace

template <class F>
auto Engine::withSource(F&& f) const {
  return visitSource(source_, std::forward<F>(f));
}

template <class F>
auto Engine::withSource(F&& f) {
  return visitSource(source_, std::forward<F>(f));
}

void Engine::setDetail(std::string detail) {
  std::lock_guard lock(mutex_);
  detail_ = std::move(detail);
}

std::string Engine::lastErrorDetail() const {
  std::lock_guard lock(mutex_);
  return detail_;
}

std::error_code Engine::prepare() {
  LinkName link;
  if (!parseLinkName(options_.link, &link)) {
    setDetail("not a link name: '" + options_.link + "'");
    return errc::bad_link_name;
  }
  Recording recording;
  if (!link.recording.empty()) {
    std::string why;
    if (!Player::load(link.recording, link.recordingTopic, &recording, &why)) {
      setDetail(why);
      return errc::bad_recording;
    }
  }
  std::lock_guard lock(mutex_);  // other threads read the source and the link
  link_ = std::move(link);
  if (!link_.recording.empty()) {
    Player& player = source_.emplace<Player>(link_.recording, std::move(recording));
    player.setInterval(options_.intervalMs);
    // A recording waits for a reader of next() to make room (see deliver).
    player.setScanObserver([this](const lmsview::Scan& s) { deliver(s, true); });
    player.setEvents([this](const Event& e) { onEvent(e); });
  } else {
    const AcquisitionSettings settings{
        .intervalMs = options_.intervalMs,
        .reconnect = {.enabled = options_.reconnect},
        .timing = {.clientStartPauseMs = options_.clientStartPauseMs},
        .baud = options_.baud,
        .scannerBaud = options_.scannerBaud,
        .keepScannerBaud = options_.keepScannerBaud,
        .variant = options_.variant,
        .units = options_.units,
        .stream = options_.stream,
    };
    const auto setUp = [&](auto& acquisition) {
      acquisition.configure(settings);
      acquisition.setMessages(options_.messages);
      acquisition.setScanObserver([this](const lmsview::Scan& s) { deliver(s); });
      acquisition.setEvents([this](const Event& e) { onEvent(e); });
    };
    if (link_.serial)
      setUp(source_.emplace<SerialAcquisition>(serialTarget(link_.device)));
    else
      setUp(source_.emplace<NetAcquisition>(netTarget(link_.address, link_.port)));
  }
  queue_.clear();
  prepared_ = true;
  return {};
}

void Engine::run() {
  {
    std::lock_guard lock(mutex_);
    running_ = true;
  }
  std::error_code why;
  withSource([&](auto& source) {
    source.run();
    if (std::is_same_v<std::decay_t<decltype(source)>, Player>) why = errc::end_of_recording;
    if (source.outcome() == RunOutcome::LinkLost) {
      why = errc::link_lost;
      setDetail(source.failureText());
    }
    if (source.outcome() == RunOutcome::ConnectFailed) {
      why = fromOs(source.failureError());
      setDetail(source.failureText());
    }
    return 0;
  });
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    endError_ = why;
    if (!openDecided_) {
      openDecided_ = true;
      openResult_ = why ? why : make_error_code(errc::closed);
    }
  }
  changed_.notify_all();
}

void Engine::stop() {
  withSource([](auto& source) {
    source.stop();
    return 0;
  });
}

void Engine::decideOpen(std::error_code result) {
  {
    std::lock_guard lock(mutex_);
    if (openDecided_) return;
    openDecided_ = true;
    openResult_ = result;
  }
  changed_.notify_all();
}

void Engine::onEvent(const Event& e) {
  if (e.kind == Event::Kind::open_failed) setDetail(e.text);
  dispatch(e);
  // open() learns of the open once the event's callbacks are done, so a
  // close() inside one of them is what open() reports.
  if (e.kind == Event::Kind::opened) decideOpen({});
}

void Engine::deliver(const lmsview::Scan& received, bool waitForRoom) {
  const lmsview::Scan* kept = &received;
  if (options_.filter.active()) {
    lmsview::filter_scan(received, options_.filter, &filtered_);
    kept = &filtered_;
  }
  const lmsview::Scan& scan = *kept;
  if (options_.queue > 0) {
    {
      std::unique_lock lock(mutex_);
      // A recording waits for a reader of next() to make room; read only
      // through callbacks, nothing would, and it goes on as a link does.
      if (waitForRoom && (nextCalled_ || !hasScanSubscribers()))
        changed_.wait(lock, [this] { return queue_.size() < options_.queue || closed_; });
      if (queue_.size() == options_.queue) {
        spare_.push_back(std::move(queue_.front()));
        queue_.pop_front();
        ++dropped_;
      }
      if (spare_.empty()) {
        queue_.push_back(scan);
      } else {
        queue_.push_back(std::move(spare_.back()));  // its buffers are reused
        spare_.pop_back();
        queue_.back() = scan;
      }
    }
    changed_.notify_all();
  }
  dispatch(scan);
}

bool Engine::hasScanSubscribers() {
  std::lock_guard lock(subscribersMutex_);
  return std::any_of(subscribers_.begin(), subscribers_.end(),
                     [](const auto& s) { return s->onScan && s->active.load(std::memory_order_acquire); });
}

template <class Arg>
void Engine::dispatch(const Arg& arg) {
  {
    std::lock_guard lock(subscribersMutex_);
    if (subscribers_.empty()) return;
    std::erase_if(subscribers_, [](const auto& s) { return !s->active.load(std::memory_order_acquire); });
    dispatching_ = subscribers_;
  }
  std::vector<std::string> thrown;  // what callbacks threw, said once each
  for (const auto& s : dispatching_) {
    std::lock_guard inCall(s->inUse);
    if (!s->active.load(std::memory_order_acquire)) continue;
    s->caller.store(std::this_thread::get_id(), std::memory_order_release);
    // A callback's exception stays here: acquisition goes on.
    try {
      if constexpr (std::is_same_v<Arg, lmsview::Scan>) {
        if (s->onScan) s->onScan(arg);
      } else {
        if (s->onEvent) s->onEvent(arg);
      }
    } catch (const std::exception& e) {
      if (!std::exchange(s->failed, true)) thrown.emplace_back(e.what());
    } catch (...) {
      if (!std::exchange(s->failed, true)) thrown.emplace_back("an exception that is not a std::exception");
    }
    s->caller.store(std::thread::id(), std::memory_order_release);
  }
  dispatching_.clear();
  for (const std::string& what : thrown) {
    Event failed;
    failed.kind = Event::Kind::callback_failed;
    failed.text = "a callback threw: " + what;
    dispatch(failed);
  }
}

void Engine::subscribe(std::shared_ptr<Subscriber> subscriber) {
  std::lock_guard lock(subscribersMutex_);
  subscribers_.push_back(std::move(subscriber));
}

std::error_code Engine::open() {
  std::unique_lock lock(mutex_);
  if (closed_) return errc::closed;
  if (started_ && running_) return errc::already_open;
  if (started_) {
    // The acquisition ended by itself: it may be started again.
    lock.unlock();
    joinThread();
    lock.lock();
    started_ = false;
  }
  lock.unlock();
  const std::error_code prepared = prepare();
  lock.lock();
  // A close() while the recording was read (or the link made) wins.
  if (closed_) return errc::closed;
  if (prepared) return prepared;
  detail_.clear();
  started_ = true;
  running_ = true;  // before the thread starts: next() waits for it from now on
  openDecided_ = false;
  openResult_ = endError_ = {};
  startedIn_ = ownProcess();
  thread_ = std::thread([self = shared_from_this()] { self->run(); });
  if (options_.reconnect && !std::holds_alternative<Player>(source_)) return {};
  // The first open is bounded (three attempts of at most a few seconds).
  changed_.wait(lock, [this] { return openDecided_; });
  if (closed_) return errc::closed;
  if (!openResult_) return {};
  const std::error_code result = openResult_;
  lock.unlock();
  joinThread();
  // A failed open may be tried again.
  lock.lock();
  started_ = false;
  return result;
}

void Engine::joinThread() {
  // Once, from whichever caller gets there (never from the thread itself).
  std::lock_guard lock(joinMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Engine::close() {
  bool ended = false;
  {
    std::unique_lock lock(mutex_);
    closed_ = true;
    if (!openDecided_) {
      openDecided_ = true;
      openResult_ = errc::closed;
    }
    changed_.notify_all();
    stop();
    // Inside a callback the acquisition thread is the caller: it ends on
    // its own once the callback returns. Elsewhere the wait is short: every
    // wait of the loop ends at a stop within kStopCheckMs.
    if (thread_.get_id() != std::this_thread::get_id())
      ended = changed_.wait_for(
          lock, std::chrono::milliseconds(options_.stream ? kCloseStreamWaitMs : kCloseWaitMs),
          [this] { return !running_; });
  }
  // A thread that is still in an open or a write holds its own reference to
  // the engine, and whoever drops the last one joins or lets it go.
  if (ended) joinThread();
}

std::error_code Engine::next(lmsview::Scan& out, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  nextCalled_ = true;
  // Never opened (or an open that failed): nothing will come.
  if (!started_ && queue_.empty()) return closed_ || !endError_ ? make_error_code(errc::closed) : endError_;
  const auto ready = [this] { return !queue_.empty() || closed_ || !running_; };
  // A timeout too long for the clock's arithmetic waits without end; a
  // negative one (however large) does not wait.
  constexpr auto kForever = std::chrono::hours(24 * 365 * 100);
  if (timeout >= kForever)
    changed_.wait(lock, ready);
  else if (timeout > std::chrono::milliseconds(0))
    changed_.wait_until(lock, std::chrono::steady_clock::now() + timeout, ready);
  if (closed_) return errc::closed;
  if (!queue_.empty()) {
    // The caller's buffers go back as a spare, to be filled again: nothing is allocated.
    std::swap(out, queue_.front());
    spare_.push_back(std::move(queue_.front()));
    queue_.pop_front();
    if (spare_.size() > 4) spare_.pop_back();
    lock.unlock();
    changed_.notify_all();  // a recording played back waits for this room
    return {};
  }
  if (!running_) return endError_ ? endError_ : make_error_code(errc::closed);
  return errc::timeout;
}

const lmsview::Scan* Engine::takeScan() {
  return withSource([](auto& source) { return source.slot().takeScan(); });
}

bool Engine::waitForScan() {
  return withSource([](auto& source) { return source.slot().waitForScan(); });
}

void Engine::wakeScanReader() {
  withSource([](auto& source) {
    source.slot().wakeReader();
    return 0;
  });
}

lmsview::Stats Engine::stats() const {
  lmsview::Stats s;
  std::lock_guard lock(mutex_);
  s.dropped = dropped_;
  const AcquisitionStats d = withSource([](const auto& source) { return source.stats(); });
  s.requests = static_cast<std::uint64_t>(d.requests);
  s.scans = static_cast<std::uint64_t>(d.scans);
  s.rejected_no_reply = static_cast<std::uint64_t>(d.noReply);
  s.rejected_not_a_reply = static_cast<std::uint64_t>(d.notAReply);
  s.rejected_too_short = static_cast<std::uint64_t>(d.tooShort);
  s.rejected_checksum = static_cast<std::uint64_t>(d.badChecksum);
  s.rejected_refused = static_cast<std::uint64_t>(d.refused);
  s.rejected_unanswered = static_cast<std::uint64_t>(d.unanswered);
  s.rejected_unexpected = static_cast<std::uint64_t>(d.unexpected);
  s.reconnects = static_cast<std::uint64_t>(d.reconnects);
  s.discarded_bytes = static_cast<std::uint64_t>(d.discarded);
  return s;
}

RunOutcome Engine::outcome() const {
  return withSource([](const auto& d) { return d.outcome(); });
}

std::string Engine::failureText() const {
  return withSource([](const auto& d) { return d.failureText(); });
}

std::error_code Engine::failureError() const {
  return withSource([](const auto& d) { return d.failureError(); });
}

std::string Engine::placeText() const {
  return withSource([](const auto& d) { return d.placeText(); });
}

}  // namespace lms
