// SPDX-License-Identifier: Apache-2.0
// lmsview::Scanner: the public face of the acquisition engine.

#include "lmsview/scanner.h"

#include <algorithm>
#include <new>

#include "lms/engine/engine.h"
#include "lms/engine/option_rules.h"
#include "lms/protocol/reply.h"

namespace lmsview {

const char* version() noexcept {
  return LMSVIEW_VERSION;
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

lms::EngineOptions engineOptions(const Options& o, Problem* problem) {
  lms::EngineOptions e;
  std::string why;
  if (const std::error_code ec = lms::engineOptionsFrom(o, &e, &why))
    *problem = {static_cast<errc>(ec.value()), std::move(why)};
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
