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

// A recording played back as a source: its scans once, `interval` apart.
struct Engine::Replay {
  Recording recording;
  ScanSlot slot;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> played{0};
  std::mutex mutex;  // the pause's wait
  std::condition_variable wake;
};

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

std::string secondsText(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);  // "0.5 s", "2 s"
  return text;
}

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

std::string eventText(const Event& e) {
  using Kind = Event::Kind;
  switch (e.kind) {
    case Kind::opened:
      return "opened " + e.where;
    case Kind::reconnecting:
      return "reconnecting to " + e.where + " in " + secondsText(e.delay) + " (attempt " +
             std::to_string(e.attempt) + ")";
    case Kind::baud_found:
      return "the scanner answered at " + std::to_string(e.baud) + " baud";
    case Kind::baud_switched:
      return "scanner switched to " + std::to_string(e.baud) + " baud";
    case Kind::baud_restored:
      return "scanner switched back to " + std::to_string(e.baud) + " baud";
    case Kind::no_answer:
      return "the scanner does not answer";
    case Kind::reply_rejected:
      switch (e.reason) {
        case Event::Reason::refused:
          return "request refused by the scanner (NAK)";
        case Event::Reason::unanswered:
          return "no answer to the request in time";
        case Event::Reason::unexpected:
          return "an answer that is neither ACK nor NAK (noise, or another baud rate)";
        default:
          return e.text;
      }
    case Kind::variant_set:
    case Kind::variant_refused: {
      const Variant* v = variantOf(e.points);
      const std::string shown = v ? v->shown : std::to_string(e.points) + " points";
      if (e.kind == Kind::variant_set) return "scanner set to " + shown;
      return "the scanner did not take " + shown + " (" +
             (e.reason == Event::Reason::unanswered ? "no answer" : "refused") +
             "): its replies say what it sends";
    }
    case Kind::stream_found:
      return e.streaming ? "the scanner was already streaming: reading its stream"
                         : "the scanner was streaming: its stream is stopped";
    case Kind::stream_refused:
      return std::string("the scanner did not start continuous output (") +
             (e.reason == Event::Reason::unanswered ? "no answer" : "refused") + "): polling instead";
    case Kind::stream_not_stopped:
      return "the scanner did not acknowledge the end of its stream: it may still be streaming";
    default:
      return e.text;  // made where the happening's own words are known
  }
}

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

template <class F>
decltype(auto) Engine::withDriver(F&& f) const {
  // Only the drivers' alternatives reach `f`; a replay or no source at all
  // gives what `f` gives for nothing (its result type default-constructed).
  using R = decltype(f(std::declval<const SerialLms&>()));
  if (const auto* serial = std::get_if<SerialLms>(&source_)) return f(*serial);
  if (const auto* net = std::get_if<NetLms>(&source_)) return f(*net);
  return R{};
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
  if (!parseLinkName(options_.link, &link_)) {
    setDetail("not a link name: '" + options_.link + "'");
    return errc::bad_link_name;
  }
  std::unique_ptr<Replay> replay;
  if (!link_.recording.empty()) {
    replay = std::make_unique<Replay>();
    std::string why, notice;
    bool loaded = false;
    try {
      loaded = replay->recording.load(link_.recording, &why, &notice, link_.recordingTopic);
    } catch (const std::bad_alloc&) {
      why = "not enough memory to read the recording";
    }
    if (!loaded) {
      setDetail(why);
      return errc::bad_recording;
    }
  }
  std::lock_guard lock(mutex_);  // stats() reads the source from other threads
  if (replay)
    source_.emplace<std::unique_ptr<Replay>>(std::move(replay));
  else if (link_.serial)
    source_.emplace<SerialLms>(link_.device.c_str(), options_.family.c_str());
  else
    source_.emplace<NetLms>(link_.address.c_str(), link_.port, options_.family.c_str());
  configure();
  queue_.clear();
  prepared_ = true;
  return {};
}

void Engine::configure() {
  auto setUp = [this](auto& d) {
    d.setOutput(options_.messages);
    d.setInterval(options_.intervalMs);
    d.setReconnect({.enabled = options_.reconnect});
    d.setTiming({.clientStartPauseMs = options_.clientStartPauseMs});
    d.setRangeUnits(options_.units);
    d.setStream(options_.stream);
    d.setVariant(options_.variant);
    if (link_.serial) {
      if (options_.baud == 0)
        d.setFindRate(true);
      else
        d.setBaud(options_.baud);
      d.setScannerBaud(options_.scannerBaud, options_.keepScannerBaud);
    }
    d.setScanObserver([this](const lmsview::Scan& s) { deliver(s); });
    d.setEvents([this](const DriverEvent& e) { onDriverEvent(e); });
  };
  if (auto* serial = std::get_if<SerialLms>(&source_)) setUp(*serial);
  if (auto* net = std::get_if<NetLms>(&source_)) setUp(*net);
}

void Engine::run() {
  {
    std::lock_guard lock(mutex_);
    running_ = true;
  }
  std::error_code why;
  if (auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) {
    play(**replay);
    why = errc::end_of_recording;
  } else {
    auto drive = [&](auto& d) {
      d.run();
      if (d.outcome() == RunOutcome::LinkLost) {
        why = errc::link_lost;
        setDetail(d.failureText());
      }
      if (d.outcome() == RunOutcome::ConnectFailed) {
        why = fromOs(d.failureError());
        setDetail(d.failureText());
      }
    };
    if (auto* serial = std::get_if<SerialLms>(&source_)) drive(*serial);
    if (auto* net = std::get_if<NetLms>(&source_)) drive(*net);
  }
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

void Engine::play(Replay& replay) {
  Event opened;
  opened.kind = Event::Kind::opened;
  opened.where = "recording " + link_.recording;
  opened.text = "opened " + opened.where + " (" + std::to_string(replay.recording.size()) + " scans)";
  dispatch(opened);
  decideOpen({});
  if (!replay.recording.cut().empty()) {
    Event cut;
    cut.kind = Event::Kind::recording_cut;
    cut.text = "the recording was cut short: " + replay.recording.cut();
    dispatch(cut);
  }
  if (replay.recording.wordsRebuilt()) {
    Event rebuilt;
    rebuilt.kind = Event::Kind::words_rebuilt;
    rebuilt.text = "the recording holds no raw words: they are made from its ranges, without their flag bits";
    dispatch(rebuilt);
  }
  const auto pause = std::chrono::milliseconds(std::max(options_.intervalMs, 0));
  for (std::size_t i = 0; i < replay.recording.size(); ++i) {
    if (replay.stop.load(std::memory_order_acquire)) return;
    lmsview::Scan& scan = replay.slot.back();
    scan.words = replay.recording.scan(static_cast<std::int64_t>(i));
    scan.geometry = replyGeometry(static_cast<int>(scan.words.size()),
                                  replay.recording.units(static_cast<std::int64_t>(i)));
    scan.words_rebuilt = replay.recording.wordsRebuilt();
    setRangesFromWords(&scan);
    scan.stamp_ns = scan.received_ns = platform::wallClockNanos();
    deliver(replay.slot.publish(), true);
    replay.played.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock lock(replay.mutex);
    if (replay.wake.wait_for(lock, pause, [&] { return replay.stop.load(std::memory_order_acquire); }))
      return;
  }
  Event ended;
  ended.kind = Event::Kind::recording_ended;
  ended.text = "the recording has played its last scan";
  dispatch(ended);
}

void Engine::stop() {
  if (auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) {
    {
      std::lock_guard lock((*replay)->mutex);
      (*replay)->stop.store(true, std::memory_order_release);
    }
    (*replay)->wake.notify_all();
  }
  if (auto* serial = std::get_if<SerialLms>(&source_)) serial->stop();
  if (auto* net = std::get_if<NetLms>(&source_)) net->stop();
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

void Engine::onDriverEvent(const DriverEvent& e) {
  using Kind = DriverEvent::Kind;
  Event out;
  switch (e.kind) {
    case Kind::Opened:
      out.kind = Event::Kind::opened;
      out.where = e.text;
      break;
    case Kind::OpenFailed:
      out.kind = Event::Kind::open_failed;
      out.text = e.text;
      out.error = e.error;
      setDetail(e.text);
      break;
    case Kind::Lost:
      out.kind = Event::Kind::lost;
      out.text = "link lost: " + e.text;
      break;
    case Kind::Reconnecting:
      out.kind = Event::Kind::reconnecting;
      out.where = e.text;
      out.delay = std::chrono::milliseconds(e.delayMs);
      out.attempt = e.attempt;
      break;
    case Kind::Rejected:
      out.kind = Event::Kind::reply_rejected;
      out.reason = e.reason;
      out.text = "reply rejected: " + e.text;
      break;
    case Kind::RateFound:
      out.kind = Event::Kind::baud_found;
      out.baud = e.rate;
      break;
    case Kind::NoRateFound:
      out.kind = Event::Kind::baud_not_found;
      out.baud = e.rate;
      out.text =
          "no rate got an answer (tried " + e.text + "): going on at " + std::to_string(e.rate) + " baud";
      break;
    case Kind::Silent:
      out.kind = Event::Kind::no_answer;
      out.every_rate_tried = e.everyRateTried;
      break;
    case Kind::RateSwitched:
      out.kind = Event::Kind::baud_switched;
      out.baud = e.rate;
      out.from_baud = e.from;
      break;
    case Kind::RateNotSwitched:
      out.kind = Event::Kind::baud_not_switched;
      out.baud = e.rate;
      out.from_baud = e.from;
      out.reason = e.reason;
      out.text = "the scanner did not switch to " + std::to_string(e.rate) + " baud (" + e.text +
                 "): going on at " + std::to_string(e.from) + " baud";
      break;
    case Kind::RateRestored:
      out.kind = Event::Kind::baud_restored;
      out.baud = e.rate;
      out.from_baud = e.from;
      break;
    case Kind::VariantSet:
      out.kind = Event::Kind::variant_set;
      out.points = e.points;
      break;
    case Kind::VariantRefused:
      out.kind = Event::Kind::variant_refused;
      out.points = e.points;
      out.reason = e.reason;
      break;
    case Kind::StreamFound:
      out.kind = Event::Kind::stream_found;
      out.streaming = e.streaming;
      break;
    case Kind::StreamRefused:
      out.kind = Event::Kind::stream_refused;
      out.reason = e.reason;
      break;
    case Kind::StreamNotStopped:
      out.kind = Event::Kind::stream_not_stopped;
      break;
    case Kind::UnitsDiffer:
      out.kind = Event::Kind::units_differ;
      out.units = unitsName(e.unitsSeen);
      out.text = std::string("the replies are in ") + unitsName(e.unitsSeen) + ", not " +
                 unitsName(e.unitsAsked) + " as set: the replies' unit is used";
      break;
  }
  out.text = eventText(out);
  dispatch(out);
  // open() learns of the open once the event's callbacks are done, so a
  // close() inside one of them is what open() reports.
  if (out.kind == Event::Kind::opened) decideOpen({});
}

void Engine::deliver(const lmsview::Scan& scan, bool waitForRoom) {
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
  if (options_.reconnect && !std::holds_alternative<std::unique_ptr<Replay>>(source_)) return {};
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
  if (auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) return (*replay)->slot.takeScan();
  if (auto* serial = std::get_if<SerialLms>(&source_)) return serial->takeScan();
  if (auto* net = std::get_if<NetLms>(&source_)) return net->takeScan();
  return nullptr;
}

bool Engine::waitForScan() {
  if (auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) return (*replay)->slot.waitForScan();
  if (auto* serial = std::get_if<SerialLms>(&source_)) return serial->waitForScan();
  if (auto* net = std::get_if<NetLms>(&source_)) return net->waitForScan();
  return false;
}

void Engine::wakeScanReader() {
  if (auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) (*replay)->slot.wakeReader();
  if (auto* serial = std::get_if<SerialLms>(&source_)) serial->wakeScanReader();
  if (auto* net = std::get_if<NetLms>(&source_)) net->wakeScanReader();
}

lmsview::Stats Engine::stats() const {
  lmsview::Stats s;
  std::lock_guard lock(mutex_);
  s.dropped = dropped_;
  if (const auto* replay = std::get_if<std::unique_ptr<Replay>>(&source_)) {
    s.scans = (*replay)->played.load(std::memory_order_relaxed);
    return s;
  }
  const DriverStats d = withDriver([](const auto& driver) { return driver.stats(); });
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
  return withDriver([](const auto& d) { return d.outcome(); });
}

std::string Engine::failureText() const {
  return withDriver([](const auto& d) { return d.failureText(); });
}

std::error_code Engine::failureError() const {
  return withDriver([](const auto& d) { return d.failureError(); });
}

std::string Engine::placeText() const {
  return withDriver([](const auto& d) { return d.placeText(); });
}

}  // namespace lms
