// lmsview::Scanner: the public face of the acquisition engine.

#include "lmsview/scanner.h"

#include <algorithm>

#include "lms/engine/engine.h"
#include "lms/protocol/reply.h"

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

namespace {

// The engine's options from the caller's; `problem` says what cannot be.
lms::EngineOptions engineOptions(const Options& o, std::string* problem) {
  lms::EngineOptions e;
  e.link = o.link;
  e.family = o.family;
  e.baud = o.baud;
  e.scannerBaud = o.scanner_baud;
  e.reconnect = o.reconnect;
  e.intervalMs = static_cast<int>(std::clamp<std::int64_t>(o.interval.count(), 0, 3'600'000));
  e.queue = std::max<std::size_t>(o.queue, 1);
  e.clientStartPauseMs = 10;
  e.variant = lms::variantNamed(o.variant);
  e.units = o.units == "cm" ? lms::Units::Centimetres : lms::Units::Millimetres;
  if (o.family != "LMS" && o.family != "PLS")
    *problem = "family must be LMS or PLS, not '" + o.family + "'";
  else if (!o.variant.empty() && e.variant == nullptr)
    *problem = "variant must be 180/0.5, 180/1, 100/1, 100/0.5 or 100/0.25, not '" + o.variant + "'";
  else if (o.units != "mm" && o.units != "cm")
    *problem = "units must be mm or cm, not '" + o.units + "'";
  return e;
}

}  // namespace

// The engine itself: a Scanner is its handle, and keeps what its options
// could not be (open() says so).
struct Scanner::Impl : lms::Engine {
  Impl(lms::EngineOptions options, std::string why) : Engine(std::move(options)), problem(std::move(why)) {}
  const std::string problem;
};

Scanner::Scanner(Options options) {
  std::string problem;
  lms::EngineOptions e = engineOptions(options, &problem);
  impl_ = std::make_shared<Impl>(std::move(e), std::move(problem));
}
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
  if (!impl_) return errc::closed;
  if (!impl_->problem.empty()) return errc::bad_argument;
  return impl_->open();
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
  if (!impl_) return "";
  return impl_->problem.empty() ? impl_->lastErrorDetail() : impl_->problem;
}

}  // namespace lmsview
