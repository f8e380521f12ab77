// SPDX-License-Identifier: Apache-2.0
#pragma once

// liblmsview: the scans of a laser range scanner of the LMS family (or the
// PLS family), read over a serial line or TCP, inside your own program.
//
//   lmsview::Scanner scanner({.link = "tcp://192.0.2.40"});
//   if (auto ec = scanner.open()) { std::cerr << ec.message() << "\n"; return 1; }
//   lmsview::Scan scan;
//   while (!scanner.next(scan, std::chrono::seconds(2))) use(scan);
//
// Threads: a Scanner runs one acquisition thread of its own (two more for
// TCP) between open() and close(). Every member function may be called from
// any thread; callbacks run on the acquisition thread. Any number of
// Scanners may live in one process: the library keeps no global state and
// never prints. In a child made by fork() a Scanner opened in the parent is
// dead: its calls answer errc::closed, and its destructor leaves the
// parent's threads alone (they are not in the child).
//
// Errors are std::error_code values of lmsview::errc (see errc below); no
// call throws except for an exhausted memory allocation.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "lmsview/export.h"
#include "lmsview/robot.h"
#include "lmsview/scan.h"

namespace lmsview {

// errc as std::error_code values: ec.message() is one line.
LMSVIEW_API const std::error_category& error_category() noexcept;
inline std::error_code make_error_code(errc e) noexcept {
  return {static_cast<int>(e), error_category()};
}

struct Options {
  // "tcp://HOST[:PORT]" (port 10002 by default; HOST a dotted IPv4 address),
  // "serial:///dev/ttyUSB0", or on Windows "serial://COM3" / "serial://\\.\COM12";
  // or "file:RECORDING" (JSON Lines or MCAP as lmsview --record writes them):
  // its scans once, `interval` apart, stamped when played, then
  // errc::end_of_recording ("file:RECORDING?topic=/front/scan" names one
  // scanner of an MCAP recording of several). Link names are UTF-8.
  std::string link{};
  std::string family = "LMS";                // "LMS" or "PLS"
  int baud = 9600;                           // serial line rate; 0: try each rate until the scanner answers
  bool reconnect = false;                    // keep trying when the link cannot be opened or is lost
  std::chrono::milliseconds interval{1000};  // from one request to the next (0: as fast as the link carries)
  std::size_t queue = 4;                     // scans kept for next(); when full the oldest goes
  // Serial: move the scanner to this rate (19200 or 38400; 9600) once open,
  // and back to the rate it had at close(); 0 leaves it alone.
  int scanner_baud = 0;
  // The field and resolution to set the scanner to once the link opens (and
  // after each reconnect): "180/0.5", "180/1", "100/1", "100/0.5" or
  // "100/0.25"; "" sends nothing, and each reply's own length says which it is.
  std::string variant = "";
  // The range unit the scanner is expected to report in: "mm" (the
  // default), "cm" or "dm". Each reply states its own unit, which wins; an
  // event says once when they differ. Nothing is sent: the scanner's
  // configuration telegram rewrites its whole stored configuration, so the
  // library never changes it.
  std::string units = "mm";
  // Continuous output: the scanner sends every scan as it measures it (up
  // to 75 a second), unasked, instead of one per request; `interval` then
  // plays no part. close() ends the stream, so the scanner is left quiet.
  // A scanner found streaming when the link opens is stopped without it.
  bool stream = false;
  // What of each scan next() and on_scan get: a sector, the sectors hidden,
  // the distances kept (see lmsview/robot.h).
  ScanFilter filter{};
};

// Ends its callback when destroyed (waiting for a call in progress, unless
// destroyed inside that call).
class LMSVIEW_API Subscription {
 public:
  Subscription() = default;
  Subscription(Subscription&&) noexcept;
  Subscription& operator=(Subscription&&) noexcept;
  ~Subscription();
  void reset();

 private:
  friend class Scanner;
  struct State;
  explicit Subscription(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

class LMSVIEW_API Scanner {
 public:
  // Does not touch the link.
  explicit Scanner(const Options& options);
  Scanner(Scanner&&) noexcept;
  Scanner& operator=(Scanner&&) noexcept;
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;
  ~Scanner();  // close()

  // Opens the link (bounded in time: at most three attempts a few seconds
  // each, as lmsview makes) and starts acquisition. With reconnect it
  // returns once acquisition has started, and failures come as events.
  std::error_code open();
  // The oldest scan not yet taken. errc::timeout when none comes within
  // `timeout`; after a loss without reconnect, the loss; after close(), errc::closed.
  std::error_code next(Scan& out, std::chrono::milliseconds timeout);
  // Called with every valid scan, on the acquisition thread. A callback
  // holds up acquisition while it runs: keep it short, or hand the scan to
  // a thread of your own. An exception a callback throws is caught there:
  // the first of each subscription comes as a callback_failed event (with
  // the exception's what()), and acquisition goes on.
  [[nodiscard]] Subscription on_scan(std::function<void(const Scan&)> callback);
  [[nodiscard]] Subscription on_event(std::function<void(const Event&)> callback);
  // Ends acquisition and lets go of the link: returns within 100 ms, the
  // link let go by then unless an open or a write is still under way (it is
  // when that ends, within its own bound). With `stream` it waits for the
  // scanner to acknowledge the end of its stream (about 30 ms at 500000
  // baud, up to two seconds at 9600), so the scanner is left quiet. Safe to
  // call twice, from any thread, and from inside a callback.
  void close();
  Stats stats() const;
  // One line saying why the last open() or next() failed, with the
  // system's or the recording's own reason ("" when nothing failed).
  std::string last_error_detail() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// The library's version, "MAJOR.MINOR.PATCH".
LMSVIEW_API const char* version() noexcept;

}  // namespace lmsview

template <>
struct std::is_error_code_enum<lmsview::errc> : std::true_type {};
