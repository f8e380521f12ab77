// SPDX-License-Identifier: Apache-2.0
// _lmsview: liblmsview for Python. Scans come as numpy arrays that view the
// scan's own memory (no copy per access): the module hands out read-only
// buffers (Python's buffer protocol) and numpy wraps them, so it works with
// whichever numpy is installed and uses none of numpy's C API; every wait releases the GIL and
// wakes for Ctrl-C at least every 100 ms; errors are exceptions derived from
// lmsview.Error and from the builtin that fits (TimeoutError,
// ConnectionRefusedError, PermissionError, ValueError ...), one for each
// error of the library's contract.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "lms/engine/errors.h"
#include "lms/engine/option_rules.h"
#include "lms/protocol/reply.h"
#include "lmsview/robot.h"
#include "lmsview/scanner.h"
#include "transport/serial_ports.h"

namespace py = pybind11;
using namespace std::chrono_literals;

namespace {

// The module's exception classes: lmsview.Error, and one for each errc.
// Made once and never freed, as the module's own types are.
PyObject* gError = nullptr;
std::map<int, PyObject*>* gErrors = nullptr;

void makeErrors(py::module_& m) {
  gError = PyErr_NewExceptionWithDoc("lmsview.Error", "Every error of lmsview.", PyExc_Exception, nullptr);
  m.add_object("Error", py::handle(gError));
  gErrors = new std::map<int, PyObject*>;
  const py::module_ builtins = py::module_::import("builtins");
  for (const lms::ErrorContract& row : lms::errorContract()) {
    const std::string base = row.pythonBase;
    // The base is a builtin, or a class of ours made before this one.
    PyObject* second = nullptr;
    if (!base.empty())
      second = py::hasattr(m, base.c_str()) ? m.attr(base.c_str()).ptr() : builtins.attr(base.c_str()).ptr();
    const bool ours = second != nullptr && PyObject_IsSubclass(second, gError) == 1;
    PyObject* bases = second == nullptr ? PyTuple_Pack(1, gError)
                      : ours            ? PyTuple_Pack(1, second)
                                        : PyTuple_Pack(2, gError, second);
    const std::string qualified = std::string("lmsview.") + row.pythonName;
    const std::string doc = std::string(row.message) + ".";
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc.c_str(), bases, nullptr);
    Py_DECREF(bases);
    m.add_object(row.pythonName, py::handle(type));
    (*gErrors)[static_cast<int>(row.code)] = type;
  }
}

PyObject* errorType(lmsview::errc e) {
  return gErrors->at(static_cast<int>(e));
}

// Raises the exception of `ec`, with the reason behind it where there is one.
[[noreturn]] void raise(std::error_code ec, const std::string& detail = "") {
  PyObject* type = errorType(lmsview::errc::link_failed);
  if (ec.category() == lmsview::error_category()) {
    if (const auto found = gErrors->find(ec.value()); found != gErrors->end()) type = found->second;
  }
  PyErr_SetString(type, (detail.empty() ? ec.message() : detail).c_str());
  throw py::error_already_set();
}

// One scan, kept alive by the arrays that view it.
struct PyScan {
  lmsview::Scan scan;
};

// Memory handed to numpy: `owner` keeps it alive, the buffer says its shape.
struct View {
  std::shared_ptr<const void> owner;
  const void* data = nullptr;
  py::ssize_t itemSize = 0;
  std::string format;  // the buffer protocol's letter: "f", "H", "d"
  std::vector<py::ssize_t> shape;
};

// numpy.asarray: wraps a buffer without a copy, read-only as the buffer is.
py::object asArray(View view) {
  static auto* asarray = new py::object(py::module_::import("numpy").attr("asarray"));
  return (*asarray)(py::cast(std::move(view)));
}

template <class T>
py::object viewOf(const std::shared_ptr<PyScan>& owner, const std::vector<T>& data) {
  return asArray({owner,
                  data.data(),
                  sizeof(T),
                  py::format_descriptor<T>::format(),
                  {static_cast<py::ssize_t>(data.size())}});
}

// The angles of a geometry, one read-only array each, made once and kept
// (a scanner has few geometries): never freed, as a static Python object
// would be destroyed after the interpreter has gone.
py::object anglesOf(const lmsview::Geometry& g) {
  static auto* cache = new std::map<std::pair<std::size_t, double>, py::object>;
  const auto key = std::make_pair(g.count, g.angle_min);
  if (const auto found = cache->find(key); found != cache->end()) return found->second;
  auto angles = std::make_shared<std::vector<float>>(g.count);
  for (std::size_t i = 0; i < g.count; ++i) (*angles)[i] = static_cast<float>(g.angle(i));
  // The vector lives as long as its array: the view's owner is the vector itself.
  py::object a = asArray({angles, angles->data(), sizeof(float), "f", {static_cast<py::ssize_t>(g.count)}});
  return cache->emplace(key, std::move(a)).first->second;
}

// A timeout in seconds from Python: None or inf waits without end; nan and
// negative values are errors.
std::optional<std::chrono::steady_clock::duration> timeoutOf(std::optional<double> seconds) {
  if (!seconds || std::isinf(*seconds)) {
    if (seconds && *seconds < 0) throw py::value_error("timeout must not be negative");
    return std::nullopt;
  }
  if (std::isnan(*seconds) || *seconds < 0) throw py::value_error("timeout must be a number of seconds >= 0");
  // Anything past a century waits without end, as a C++ duration cannot hold it.
  if (*seconds > 100.0 * 365 * 24 * 3600) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(*seconds));
}

// Whether the interpreter is shutting down: a thread that takes the GIL
// back then is ended by Python in a way C++ cannot unwind through.
bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// The scanner with its waits made for Python: the GIL is released while
// waiting, in slices, so Ctrl-C ends a wait within 100 ms.
// The event kinds and reasons by the names their C++ enumerators have.
constexpr const char* kEventKinds[] = {
    "opened",
    "open_failed",
    "lost",
    "reconnecting",
    "reply_rejected",
    "no_answer",
    "baud_found",
    "baud_not_found",
    "baud_switched",
    "baud_not_switched",
    "baud_restored",
    "variant_set",
    "variant_refused",
    "words_rebuilt",
    "callback_failed",
    "stream_found",
    "stream_refused",
    "stream_not_stopped",
    "units_differ",
    "recording_cut",
    "recording_ended",
};
static_assert(std::size(kEventKinds) == static_cast<std::size_t>(lmsview::Event::Kind::recording_ended) + 1,
              "a name for every event kind");
constexpr const char* kEventReasons[] = {"none",     "no_reply", "not_a_reply", "too_short",
                                         "checksum", "refused",  "unanswered",  "unexpected"};
static_assert(std::size(kEventReasons) == static_cast<std::size_t>(lmsview::Event::Reason::unexpected) + 1,
              "a name for every reason");

// Events wait here for Python to take them: the acquisition thread only
// queues them (it never takes the GIL), the oldest going when more than
// kKeptEvents wait.
struct EventQueue {
  static constexpr std::size_t kKeptEvents = 1000;
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<lmsview::Event> events;
  bool closed = false;
  void push(const lmsview::Event& e) {
    {
      std::lock_guard lock(mutex);
      if (events.size() == kKeptEvents) events.pop_front();
      events.push_back(e);
    }
    arrived.notify_all();
  }
  void close() {
    {
      std::lock_guard lock(mutex);
      closed = true;
    }
    arrived.notify_all();
  }
};

struct PyScanner {
  explicit PyScanner(const lmsview::Options& o)
      : scanner(o),
        events(std::make_shared<EventQueue>()),
        subscription(scanner.on_event([queue = events](const lmsview::Event& e) { queue->push(e); })) {}

  // The oldest event not yet taken, or nothing on timeout or once closed.
  std::optional<lmsview::Event> nextEvent(std::optional<std::chrono::steady_clock::duration> timeout) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      std::optional<lmsview::Event> got;
      bool closed = false;
      {
        py::gil_scoped_release unlocked;
        std::unique_lock lock(events->mutex);
        auto slice = std::chrono::steady_clock::now() + 100ms;
        if (timeout) slice = std::min(slice, start + *timeout);
        events->arrived.wait_until(lock, slice, [this] { return !events->events.empty() || events->closed; });
        if (!events->events.empty()) {
          got = std::move(events->events.front());
          events->events.pop_front();
        }
        closed = events->closed;
        lock.unlock();
        while (finalizing()) std::this_thread::sleep_for(std::chrono::seconds(1));
      }
      if (got || closed) return got;
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (timeout && std::chrono::steady_clock::now() - start >= *timeout) return std::nullopt;
    }
  }

  // A scan, or nullptr on timeout.
  std::shared_ptr<PyScan> next(std::optional<std::chrono::steady_clock::duration> timeout) {
    auto out = std::make_shared<PyScan>();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      auto slice = std::chrono::milliseconds(100);
      if (timeout) {
        const auto left = *timeout - (std::chrono::steady_clock::now() - start);
        slice = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(left), 0ms, slice);
      }
      std::error_code ec;
      PyThreadState* saved = PyEval_SaveThread();
      ec = scanner.next(out->scan, slice);
      // A daemon thread that waits here while the program ends must not take
      // the GIL back: it sleeps until the process is gone.
      while (finalizing()) std::this_thread::sleep_for(std::chrono::seconds(1));
      PyEval_RestoreThread(saved);
      if (!ec) return out;
      if (ec != lmsview::errc::timeout)
        raise(ec, ec == lmsview::errc::closed ? "" : scanner.last_error_detail());
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (timeout && std::chrono::steady_clock::now() - start >= *timeout) return nullptr;
    }
  }

  void close() {
    py::gil_scoped_release unlocked;
    scanner.close();
    events->close();
  }

  lmsview::Scanner scanner;
  std::shared_ptr<EventQueue> events;
  lmsview::Subscription subscription;
};

// lmsview.Event, made once and never freed, as the module's own types are.
py::object* gEventType = nullptr;

py::object eventObject(const lmsview::Event& e) {
  py::dict d;
  d["kind"] = kEventKinds[static_cast<int>(e.kind)];
  d["text"] = e.text;
  d["delay"] = static_cast<double>(e.delay.count()) / 1000.0;
  d["attempt"] = e.attempt;
  d["baud"] = e.baud;
  d["from_baud"] = e.from_baud;
  d["points"] = e.points;
  d["reason"] = kEventReasons[static_cast<int>(e.reason)];
  d["every_rate_tried"] = e.every_rate_tried;
  d["where"] = e.where;
  d["error"] = e.error ? py::object(py::str(e.error.message())) : py::object(py::none());
  d["units"] = e.units;
  d["streaming"] = e.streaming;
  return (*gEventType)(**d);
}

py::dict geometryDict(const lmsview::Geometry& g) {
  py::dict d;
  d["count"] = g.count;
  d["angle_min"] = g.angle_min;
  d["angle_max"] = g.angle_max();
  d["angle_increment"] = g.angle_increment;
  d["range_min"] = g.range_min;
  d["range_max"] = g.range_max;
  d["range_unit"] = g.range_unit;
  return d;
}

}  // namespace

PYBIND11_MODULE(_lmsview, m) {
  py::class_<View>(m, "_View", py::buffer_protocol()).def_buffer([](const View& v) {
    std::vector<py::ssize_t> strides(v.shape.size());
    py::ssize_t stride = v.itemSize;
    for (std::size_t i = v.shape.size(); i-- > 0;) {
      strides[i] = stride;
      stride *= v.shape[i];
    }
    return py::buffer_info(const_cast<void*>(v.data), v.itemSize, v.format,
                           static_cast<py::ssize_t>(v.shape.size()), v.shape, strides, true);
  });
  m.doc() = "Scans of a laser range scanner of the LMS (or PLS) family, over a serial line or TCP.";
  makeErrors(m);
  py::dict eventNamespace;
  eventNamespace["__doc__"] = "What happened on a scanner's link, with the fields of the C++ lmsview::Event.";
  eventNamespace["__module__"] = "lmsview";
  gEventType = new py::object(
      py::module_::import("builtins")
          .attr("type")("Event", py::make_tuple(py::module_::import("types").attr("SimpleNamespace")),
                        eventNamespace));
  m.attr("Event") = *gEventType;

  py::class_<PyScan, std::shared_ptr<PyScan>>(
      m, "Scan", "One scan: its ranges, raw words and angles, and the geometry it carries.")
      .def_property_readonly(
          "seq", [](const PyScan& s) { return s.scan.seq; },
          "0, 1, 2 ... per valid scan this scanner received; a gap means scans were dropped.")
      .def_property_readonly(
          "stamp_ns", [](const PyScan& s) { return s.scan.stamp_ns; },
          "Host wall-clock time (UTC, ns since the epoch) at which the scan's reply began to arrive: the "
          "time of the scan.")
      .def_property_readonly(
          "received_ns", [](const PyScan& s) { return s.scan.received_ns; },
          "Host wall-clock time (UTC, ns since the epoch) at which the reply was whole.")
      .def_property_readonly(
          "stamp",
          [](const PyScan& s) {
            const py::module_ datetime = py::module_::import("datetime");
            return datetime.attr("datetime")
                .attr("fromtimestamp")(static_cast<double>(s.scan.stamp_ns) / 1e9,
                                       datetime.attr("timezone").attr("utc"));
          },
          "stamp_ns as a timezone-aware datetime (UTC).")
      .def_property_readonly(
          "ranges", [](const std::shared_ptr<PyScan>& s) { return viewOf(s, s->scan.ranges); },
          "The ranges in metres, shape (count,) (float32, read-only, no copy): bits 0-12 of each word times "
          "range_unit. A range outside [range_min, range_max] is not a distance (0: no echo).")
      .def_property_readonly(
          "words", [](const std::shared_ptr<PyScan>& s) { return viewOf(s, s->scan.words); },
          "The raw range words, shape (count,) (uint16, flag bits included).")
      .def_property_readonly(
          "angles", [](const PyScan& s) { return anglesOf(s.scan.geometry); },
          "The angle of each range in radians, shape (count,): angle_min + i * angle_increment.")
      .def_property_readonly(
          "count", [](const PyScan& s) { return s.scan.geometry.count; }, "The number of points.")
      .def_property_readonly(
          "angle_min", [](const PyScan& s) { return s.scan.geometry.angle_min; },
          "The angle of the first point (radians).")
      .def_property_readonly(
          "angle_max", [](const PyScan& s) { return s.scan.geometry.angle_max(); },
          "The angle of the last point (radians).")
      .def_property_readonly(
          "angle_increment", [](const PyScan& s) { return s.scan.geometry.angle_increment; },
          "Radians between neighbouring points.")
      .def_property_readonly(
          "range_min", [](const PyScan& s) { return s.scan.geometry.range_min; },
          "Metres: a smaller range is not a distance.")
      .def_property_readonly(
          "range_max", [](const PyScan& s) { return s.scan.geometry.range_max; },
          "Metres: a larger range is one of the scanner's codes, not a distance.")
      .def_property_readonly(
          "range_unit", [](const PyScan& s) { return s.scan.geometry.range_unit; },
          "Metres per count of a raw word's range bits (0.001: millimetres, 0.01: centimetres).")
      .def_property_readonly(
          "geometry", [](const PyScan& s) { return geometryDict(s.scan.geometry); },
          "The geometry as a dict: count, angle_min, angle_max, angle_increment, range_min, range_max, "
          "range_unit.")
      .def(
          "to_cartesian",
          [](const PyScan& s) {
            const lmsview::Geometry& g = s.scan.geometry;
            auto xy = std::make_shared<std::vector<double>>(2 * g.count);
            for (std::size_t i = 0; i < g.count; ++i) {
              const double r = s.scan.ranges[i];
              const double a = g.angle(i);
              const bool valid = lms::isDistance(s.scan, i);
              (*xy)[2 * i] = valid ? r * std::cos(a) : std::nan("");
              (*xy)[2 * i + 1] = valid ? r * std::sin(a) : std::nan("");
            }
            return asArray({xy, xy->data(), sizeof(double), "d", {static_cast<py::ssize_t>(g.count), 2}});
          },
          "A (count, 2) array of x (straight ahead) and y (to the left) in metres in the scan's frame; NaN "
          "where a range is not a distance.")
      .def("__repr__", [](const PyScan& s) {
        return "<lmsview.Scan seq=" + std::to_string(s.scan.seq) +
               " count=" + std::to_string(s.scan.geometry.count) +
               " stamp_ns=" + std::to_string(s.scan.stamp_ns) + ">";
      });

  py::class_<PyScanner>(
      m, "Scanner",
      "An open scanner: take scans with next() or by iterating; close() (or a with block) ends "
      "acquisition.")
      .def(
          "next", [](PyScanner& s, std::optional<double> timeout) { return s.next(timeoutOf(timeout)); },
          py::arg("timeout") = py::none(),
          "The oldest scan not yet taken, or None when none comes within `timeout` seconds (None or "
          "math.inf: wait without end). Raises the link's error after a loss.")
      .def("__iter__", [](py::object self) { return self; })
      .def(
          "__next__",
          [](PyScanner& s) {
            try {
              return s.next(std::nullopt);
            } catch (py::error_already_set& e) {
              if (e.matches(errorType(lmsview::errc::closed))) throw py::stop_iteration();
              throw;
            }
          },
          "Iteration ends at close() (or the end of a recording), or raises the link's error.")
      .def(
          "next_event",
          [](PyScanner& s, std::optional<double> timeout) -> py::object {
            const auto e = s.nextEvent(timeoutOf(timeout));
            return e ? eventObject(*e) : py::object(py::none());
          },
          py::arg("timeout") = py::none(),
          "The oldest event not yet taken (what happened on the link: opened, lost, reconnecting, a reply "
          "rejected, a rate or variant set, a recording cut or ended ...), or None when none comes within "
          "`timeout` seconds (None: wait without end) or the scanner is closed. An event has the C++ "
          "lmsview::Event's fields: kind and reason (their names as strings), text, delay (seconds), "
          "attempt, "
          "baud, from_baud, points, every_rate_tried, where, error (a message or None), units, streaming. "
          "The "
          "last 1000 are kept.")
      .def(
          "events",
          [](const py::object& self) {
            return py::module_::import("builtins").attr("iter")(self.attr("next_event"), py::none());
          },
          "An iterator over the events as they come, until the scanner is closed.")
      .def("close", &PyScanner::close, "Ends acquisition and lets go of the link; safe to call twice.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](PyScanner& s, const py::args&) {
             s.close();
             return false;
           })
      .def_property_readonly(
          "stats",
          [](const PyScanner& s) {
            const lmsview::Stats st = s.scanner.stats();
            py::dict d;
            d["requests"] = st.requests;
            d["scans"] = st.scans;
            d["rejected_no_reply"] = st.rejected_no_reply;
            d["rejected_not_a_reply"] = st.rejected_not_a_reply;
            d["rejected_too_short"] = st.rejected_too_short;
            d["rejected_checksum"] = st.rejected_checksum;
            d["rejected_refused"] = st.rejected_refused;
            d["rejected_unanswered"] = st.rejected_unanswered;
            d["rejected_unexpected"] = st.rejected_unexpected;
            d["dropped"] = st.dropped;
            d["reconnects"] = st.reconnects;
            d["discarded_bytes"] = st.discarded_bytes;
            return d;
          },
          "Counts: requests, scans, replies rejected by reason, scans dropped, reconnects, streamed bytes "
          "discarded.");

  m.def(
      "open",
      [](const std::string& link, const std::string& family, bool reconnect, double interval,
         std::size_t queue, int baud, int scanner_baud, const std::optional<std::string>& variant,
         const std::string& units, bool stream, const std::optional<std::pair<double, double>>& crop_deg,
         const std::vector<std::pair<double, double>>& mask_deg,
         const std::optional<std::pair<double, double>>& range_m) {
        // Seconds here; the library takes milliseconds and says what may be.
        if (!std::isfinite(interval) || interval < 0 ||
            interval * 1000 > static_cast<double>(lms::kMaxIntervalMs))
          raise(lmsview::errc::bad_argument,
                "interval must be 0 to " + std::to_string(lms::kMaxIntervalMs / 1000) + " s (an hour), not " +
                    py::str(py::float_(interval)).cast<std::string>());
        lmsview::Options o;
        o.link = link;
        o.family = family;
        o.reconnect = reconnect;
        o.interval = std::chrono::milliseconds(std::llround(interval * 1000));
        o.queue = queue;
        o.baud = baud;
        o.scanner_baud = scanner_baud;
        o.variant = variant.value_or("");
        o.units = units;
        o.stream = stream;
        if (crop_deg) std::tie(o.filter.crop_min_deg, o.filter.crop_max_deg) = *crop_deg;
        o.filter.mask_deg = mask_deg;
        if (range_m) std::tie(o.filter.range_min_m, o.filter.range_max_m) = *range_m;
        auto s = std::make_unique<PyScanner>(o);
        std::error_code ec;
        {
          py::gil_scoped_release unlocked;
          ec = s->scanner.open();
        }
        if (ec) raise(ec, s->scanner.last_error_detail());
        return s;
      },
      py::arg("link"), py::arg("family") = "LMS", py::arg("reconnect") = false, py::arg("interval") = 1.0,
      py::arg("queue") = 4, py::arg("baud") = 9600, py::arg("scanner_baud") = 0,
      py::arg("variant") = py::none(), py::arg("units") = "mm", py::arg("stream") = false,
      py::arg("crop_deg") = py::none(), py::arg("mask_deg") = std::vector<std::pair<double, double>>(),
      py::arg("range_m") = py::none(),
      "Opens a scanner and starts acquisition. link: 'tcp://HOST[:PORT]', 'serial:///dev/ttyUSB0' or "
      "'file:RECORDING'; interval: seconds from one request to the next (the C++ library's Options "
      "takes milliseconds); queue: scans kept for next(); baud: the serial line's rate (0: find it); "
      "scanner_baud: move the scanner to this rate for the run (0: leave it); variant: a field and "
      "resolution "
      "as lmsview --variant names them, to set the scanner to at each open (None: leave it); units: 'mm', "
      "'cm' or 'dm', the range unit the scanner is expected to report in (each reply states its own, which "
      "wins); stream: continuous output, every scan as the scanner measures it (close() ends it); "
      "crop_deg: (from, to), the sector kept in degrees (0 ahead, + left), which shortens each scan; "
      "mask_deg: [(from, to), ...], sectors hidden; range_m: (nearest, farthest) distances kept: hidden "
      "points are NaN.");

  m.def(
      "merge",
      [](const std::vector<std::shared_ptr<PyScan>>& scans,
         const std::vector<std::tuple<double, double, double>>& poses) {
        if (scans.size() != poses.size()) raise(lmsview::errc::bad_argument, "merge: one pose for each scan");
        std::vector<lmsview::PlacedScan> placed;
        for (std::size_t i = 0; i < scans.size(); ++i) {
          if (!scans[i]) raise(lmsview::errc::bad_argument, "merge: a scan is None");
          const auto& [x, y, yaw] = poses[i];
          placed.push_back({&scans[i]->scan, {x, y, yaw}});
        }
        auto merged = std::make_shared<lmsview::Merged>();
        lmsview::merge(placed, merged.get());
        auto scan = std::make_shared<PyScan>();
        scan->scan = std::move(merged->scan);
        // x, y, z as one (n, 3) array and the scanner of each point.
        auto xyz = std::make_shared<std::vector<float>>();
        auto from = std::make_shared<std::vector<std::uint32_t>>();
        for (const lmsview::MergedPoint& p : merged->points) {
          xyz->insert(xyz->end(), {p.x, p.y, p.z});
          from->push_back(p.scanner);
        }
        const auto n = static_cast<py::ssize_t>(from->size());
        return py::make_tuple(asArray({xyz, xyz->data(), sizeof(float), "f", {n, 3}}),
                              asArray({from,
                                       from->data(),
                                       sizeof(std::uint32_t),
                                       py::format_descriptor<std::uint32_t>::format(),
                                       {n}}),
                              scan);
      },
      py::arg("scans"), py::arg("poses"),
      "Merges scans of several scanners in the robot's frame. poses: one (x, y, yaw) a scan, metres and "
      "radians (REP 103). Returns (points, scanners, scan): an (n, 3) float32 array of x, y, z, the index "
      "of each point's scanner, and a 360-degree Scan from the robot's origin in half-degree bins, the "
      "nearest point of each, NaN where there is none.");

  m.def(
      "list_ports",
      [] {
        py::list out;
        for (const auto& d : transport::listSerialDevices()) {
          py::dict e;
          e["path"] = d.path;
          e["kind"] = d.kind;
          e["stable_name"] = d.stableName;
          e["accessible"] = d.accessible;
          out.append(e);
        }
        return out;
      },
      "The serial devices here, as lmsview --list-ports lists them.");
  m.def(
      "version", [] { return std::string(lmsview::version()); }, "The library's version.");
  m.def(
      "_error_contract",
      [] {
        py::list rows;
        for (const lms::ErrorContract& row : lms::errorContract())
          rows.append(py::make_tuple(static_cast<int>(row.code), row.cName, row.pythonName, row.pythonBase,
                                     row.message));
        return rows;
      },
      "The library's errors: (value, C name, exception, base, message) for each, for the tests.");
  m.attr("__version__") = lmsview::version();
}
