// lmsview::Scanner: the public face of the acquisition engine.

#include "lmsview/scanner.h"

#include <algorithm>
#include <new>

#include "lms/engine/engine.h"
#include "lms/engine/link_name.h"
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

// What an Options value cannot be, and why.
struct Problem {
  errc code{};
  std::string why;
};

// The engine's options from the caller's, and what is wrong with them.
lms::EngineOptions engineOptions(const Options& o, Problem* problem) {
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
  e.units = o.units == "cm"   ? lms::Units::Centimetres
            : o.units == "dm" ? lms::Units::Decimetres
                              : lms::Units::Millimetres;
  e.stream = o.stream;
  lms::LinkName link;
  const bool parsed = lms::parseLinkName(o.link, &link);
  auto refuse = [problem](errc code, std::string why) { *problem = {code, std::move(why)}; };
  if (o.link.find('\0') != std::string::npos)
    refuse(errc::bad_link_name, "a link name with a NUL byte in it");
  else if (o.family != "LMS" && o.family != "PLS")
    refuse(errc::bad_argument, "family must be LMS or PLS, not '" + o.family + "'");
  else if (!o.variant.empty() && e.variant == nullptr)
    refuse(errc::bad_argument,
           "variant must be 180/0.5, 180/1, 100/1, 100/0.5 or 100/0.25, not '" + o.variant + "'");
  else if (o.units != "mm" && o.units != "cm" && o.units != "dm")
    refuse(errc::bad_argument, "units must be mm, cm or dm, not '" + o.units + "'");
  else if (parsed && !link.serial && (o.baud != 9600 || o.scanner_baud != 0))
    refuse(errc::bad_argument, "baud and scanner_baud are for serial links");
  return e;
}

}  // namespace

// The engine itself: a Scanner is its handle, and keeps what its options
// could not be (open() says so).
struct Scanner::Impl : lms::Engine {
  Impl(lms::EngineOptions options, Problem why) : Engine(std::move(options)), problem(std::move(why)) {}
  const Problem problem;
};

Scanner::Scanner(const Options& options) {
  Problem problem;
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
namespace {

// The engine when this process may use it: not after a move, nor in a
// fork()ed child, where its threads stayed in the parent.
template <class Handle>
auto* live(const Handle& impl) {
  return impl && !impl->forkedAway() ? impl.get() : nullptr;
}

}  // namespace

Scanner::~Scanner() {
  // In a fork()ed child the acquisition thread stayed in the parent: nothing
  // of it may be joined or touched, so the engine is left as it is.
  if (impl_ && impl_->forkedAway()) {
    new (std::nothrow) std::shared_ptr<Impl>(std::move(impl_));
    return;
  }
  close();
}

std::error_code Scanner::open() {
  auto* impl = live(impl_);
  if (!impl) return errc::closed;
  if (impl->problem.code != errc{}) return impl->problem.code;
  return impl->open();
}

std::error_code Scanner::next(Scan& out, std::chrono::milliseconds timeout) {
  auto* impl = live(impl_);
  return impl ? impl->next(out, timeout) : make_error_code(errc::closed);
}

void Scanner::close() {
  if (auto* impl = live(impl_)) impl->close();
}

Subscription Scanner::on_scan(std::function<void(const Scan&)> callback) {
  auto state = std::make_shared<Subscription::State>();
  state->onScan = std::move(callback);
  if (auto* impl = live(impl_)) impl->subscribe(state);
  return Subscription(state);
}

Subscription Scanner::on_event(std::function<void(const Event&)> callback) {
  auto state = std::make_shared<Subscription::State>();
  state->onEvent = std::move(callback);
  if (auto* impl = live(impl_)) impl->subscribe(state);
  return Subscription(state);
}

Stats Scanner::stats() const {
  const auto* impl = live(impl_);
  return impl ? impl->stats() : Stats{};
}

std::string Scanner::last_error_detail() const {
  const auto* impl = live(impl_);
  if (!impl) return "";
  return impl->problem.why.empty() ? impl->lastErrorDetail() : impl->problem.why;
}

}  // namespace lmsview
