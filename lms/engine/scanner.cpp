// lmsview::Scanner: the public face of the acquisition engine.

#include "lmsview/scanner.h"

#include <algorithm>

#include "lms/engine/engine.h"

namespace lmsview {

const char* version() noexcept {
  return LMS_VERSION;
}

struct Subscription::State : lms::Subscriber {};

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
  state_->end();
  state_.reset();
}

// The engine itself: a Scanner is its handle.
struct Scanner::Impl : lms::Engine {
  using Engine::Engine;
};

namespace {

lms::EngineOptions engineOptions(Options o) {
  lms::EngineOptions e;
  e.link = std::move(o.link);
  e.family = std::move(o.family);
  e.baud = o.baud;
  e.scannerBaud = o.scanner_baud;
  e.reconnect = o.reconnect;
  e.intervalMs = static_cast<int>(std::clamp<std::int64_t>(o.interval.count(), 0, 3'600'000));
  e.queue = std::max<std::size_t>(o.queue, 1);
  e.clientStartPauseMs = 10;
  return e;
}

}  // namespace

Scanner::Scanner(Options options) : impl_(std::make_shared<Impl>(engineOptions(std::move(options)))) {}
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
  return impl_ ? impl_->stats() : Stats{};
}

std::string Scanner::last_error_detail() const {
  return impl_ ? impl_->lastErrorDetail() : std::string();
}

}  // namespace lmsview
