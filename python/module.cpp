// _lmsview: liblmsview for Python. Scans come as numpy arrays that view the
// scan's own memory (no copy per access); every wait releases the GIL and
// wakes for Ctrl-C at least every 100 ms; errors are exceptions derived from
// lmsview.Error and from the builtin that fits (TimeoutError,
// ConnectionRefusedError, PermissionError, ValueError ...).

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>

#include "lmsview/scanner.h"
#include "transport/serial_ports.h"

namespace py = pybind11;
using namespace std::chrono_literals;

namespace {

// The module's exception classes, each with two bases.
struct Errors {
  PyObject* base = nullptr;
  PyObject* timeout = nullptr;
  PyObject* closed = nullptr;
  PyObject* refused = nullptr;
  PyObject* lost = nullptr;
  PyObject* busy = nullptr;
  PyObject* permission = nullptr;
  PyObject* noDevice = nullptr;
  PyObject* badName = nullptr;
  PyObject* unreachable = nullptr;
  PyObject* link = nullptr;
};
Errors gErrors;

PyObject* newError(py::module_& m, const char* name, PyObject* builtin, const char* doc) {
  const std::string qualified = std::string("lmsview.") + name;
  PyObject* bases = builtin ? PyTuple_Pack(2, gErrors.base, builtin) : PyTuple_Pack(1, gErrors.base);
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
  Py_DECREF(bases);
  m.add_object(name, py::handle(type));
  return type;
}

[[noreturn]] void raise(std::error_code ec) {
  using lmsview::errc;
  PyObject* type = gErrors.link;
  if (ec.category() == lmsview::error_category()) {
    switch (static_cast<errc>(ec.value())) {
      case errc::timeout:
        type = gErrors.timeout;
        break;
      case errc::closed:
      case errc::end_of_recording:
        type = gErrors.closed;
        break;
      case errc::link_refused:
        type = gErrors.refused;
        break;
      case errc::link_lost:
        type = gErrors.lost;
        break;
      case errc::device_busy:
        type = gErrors.busy;
        break;
      case errc::permission_denied:
        type = gErrors.permission;
        break;
      case errc::no_such_device:
      case errc::bad_recording:
        type = gErrors.noDevice;
        break;
      case errc::bad_link_name:
        type = gErrors.badName;
        break;
      case errc::unreachable:
        type = gErrors.unreachable;
        break;
      case errc::already_open:
      case errc::link_failed:
      case errc::bad_topic:  // the ROS 2 component's: not raised by a Scanner
      case errc::bad_domain:
      case errc::dds_failed:
        break;
    }
  }
  PyErr_SetString(type, ec.message().c_str());
  throw py::error_already_set();
}

// One scan, kept alive by the arrays that view it.
struct PyScan {
  lmsview::Scan scan;
};

// Made once and never freed: a static Python object would be destroyed after
// the interpreter has gone.
py::object angleArray() {
  static const py::object* angles = new py::object([] {
    py::array_t<float> a(lmsview::Scan::points);
    auto w = a.mutable_unchecked<1>();
    for (py::ssize_t i = 0; i < static_cast<py::ssize_t>(lmsview::Scan::points); ++i)
      w(i) = static_cast<float>(static_cast<double>(i) * lmsview::Scan::angle_increment);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
  }());
  return *angles;
}

template <class T>
py::array viewOf(const std::shared_ptr<PyScan>& owner, const T* data) {
  // The array's base holds the scan: the memory stays while the array does.
  py::array a(py::dtype::of<T>(), {static_cast<py::ssize_t>(lmsview::Scan::points)}, {sizeof(T)}, data,
              py::cast(owner));
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

// The scanner with its waits made for Python: the GIL is released while
// waiting, in slices, so Ctrl-C ends a wait within 100 ms.
struct PyScanner {
  explicit PyScanner(lmsview::Options o) : scanner(std::move(o)) {}

  // A scan, or nullptr on timeout (a negative timeout waits for ever).
  std::shared_ptr<PyScan> next(double timeoutSeconds) {
    auto out = std::make_shared<PyScan>();
    const auto until = std::chrono::steady_clock::now() +
                       (timeoutSeconds < 0 ? std::chrono::hours(24 * 365)
                                           : std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                 std::chrono::duration<double>(timeoutSeconds)));
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      std::error_code ec;
      {
        py::gil_scoped_release unlocked;
        ec = scanner.next(out->scan, std::clamp(left, 0ms, 100ms));
      }
      if (!ec) return out;
      if (ec != lmsview::errc::timeout) raise(ec);
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (std::chrono::steady_clock::now() >= until) return nullptr;
    }
  }

  void close() {
    py::gil_scoped_release unlocked;
    scanner.close();
  }

  lmsview::Scanner scanner;
};

}  // namespace

PYBIND11_MODULE(_lmsview, m) {
  m.doc() = "Scans of a laser range scanner of the LMS (or PLS) family, over a serial line or TCP.";

  gErrors.base =
      PyErr_NewExceptionWithDoc("lmsview.Error", "Every error of lmsview.", PyExc_Exception, nullptr);
  m.add_object("Error", py::handle(gErrors.base));
  gErrors.timeout = newError(m, "Timeout", PyExc_TimeoutError, "No scan within the time allowed.");
  gErrors.closed = newError(m, "Closed", nullptr, "The scanner is closed, or its recording has ended.");
  gErrors.refused = newError(m, "LinkRefused", PyExc_ConnectionRefusedError,
                             "Nothing accepts connections at that address.");
  gErrors.lost = newError(m, "LinkLost", PyExc_ConnectionError, "The open link went away.");
  gErrors.busy = newError(m, "DeviceBusy", PyExc_ConnectionError, "Another program holds the serial device.");
  gErrors.permission =
      newError(m, "PermissionDenied", PyExc_PermissionError, "You may not open the serial device.");
  gErrors.noDevice =
      newError(m, "NoSuchDevice", PyExc_FileNotFoundError, "No such serial device or recording.");
  gErrors.badName = newError(m, "BadLinkName", PyExc_ValueError, "The link name does not parse.");
  gErrors.unreachable = newError(m, "Unreachable", PyExc_ConnectionError, "No answer from that address.");
  gErrors.link = newError(m, "LinkFailed", PyExc_ConnectionError, "Another failure of the link.");

  py::class_<PyScan, std::shared_ptr<PyScan>>(m, "Scan", "One scan: 361 ranges, 0.5 degrees apart.")
      .def_property_readonly(
          "seq", [](const PyScan& s) { return s.scan.seq; },
          "0, 1, 2 ... per valid scan this scanner received; a gap means scans were dropped.")
      .def_property_readonly(
          "stamp_ns", [](const PyScan& s) { return s.scan.stamp_ns; },
          "Host wall-clock time (UTC) when the reply was whole, in ns since the epoch.")
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
          "ranges", [](const std::shared_ptr<PyScan>& s) { return viewOf(s, s->scan.ranges.data()); },
          "The 361 ranges in metres (float32, read-only, no copy): bits 0-12 of each word / 1000. A range "
          "outside [range_min, range_max] is not a distance (0: no echo).")
      .def_property_readonly(
          "words", [](const std::shared_ptr<PyScan>& s) { return viewOf(s, s->scan.words.data()); },
          "The raw range words (uint16, flag bits included).")
      .def_property_readonly_static(
          "angles", [](const py::object&) { return angleArray(); },
          "The angle of each range in radians: 0 at the scanner's right, pi/2 straight ahead, pi to its "
          "left.")
      .def(
          "to_cartesian",
          [](const PyScan& s) {
            py::array_t<double> xy({static_cast<py::ssize_t>(lmsview::Scan::points), py::ssize_t{2}});
            auto w = xy.mutable_unchecked<2>();
            for (py::ssize_t i = 0; i < static_cast<py::ssize_t>(lmsview::Scan::points); ++i) {
              const float r = s.scan.ranges[static_cast<std::size_t>(i)];
              const double a = static_cast<double>(i) * lmsview::Scan::angle_increment;
              const bool valid = r > 0;
              w(i, 0) = valid ? r * std::cos(a) : std::nan("");
              w(i, 1) = valid ? r * std::sin(a) : std::nan("");
            }
            return xy;
          },
          "A (361, 2) array of x (to the right) and y (ahead) in metres; NaN where a range is 0.")
      .def("__repr__", [](const PyScan& s) {
        return "<lmsview.Scan seq=" + std::to_string(s.scan.seq) +
               " stamp_ns=" + std::to_string(s.scan.stamp_ns) + ">";
      });
  m.attr("Scan").attr("range_min") = lmsview::Scan::range_min;
  m.attr("Scan").attr("range_max") = lmsview::Scan::range_max;
  m.attr("Scan").attr("angle_increment") = lmsview::Scan::angle_increment;

  py::class_<PyScanner>(
      m, "Scanner",
      "An open scanner: take scans with next() or by iterating; close() (or a with block) ends "
      "acquisition.")
      .def(
          "next",
          [](PyScanner& s, std::optional<double> timeout) { return s.next(timeout ? *timeout : -1.0); },
          py::arg("timeout") = py::none(),
          "The oldest scan not yet taken, or None when none comes within `timeout` seconds (None: wait). "
          "Raises the link's error after a loss.")
      .def("__iter__", [](py::object self) { return self; })
      .def(
          "__next__",
          [](PyScanner& s) {
            try {
              return s.next(-1.0);
            } catch (py::error_already_set& e) {
              if (e.matches(gErrors.closed)) throw py::stop_iteration();
              throw;
            }
          },
          "Iteration ends at close() (or the end of a recording), or raises the link's error.")
      .def("close", &PyScanner::close, "Ends acquisition; safe to call twice.")
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
            d["dropped"] = st.dropped;
            d["reconnects"] = st.reconnects;
            return d;
          },
          "Counts: requests, scans, replies rejected by reason, scans dropped, reconnects.");

  m.def(
      "open",
      [](const std::string& link, const std::string& family, bool reconnect, double interval,
         std::size_t queue, int baud, int scanner_baud) {
        lmsview::Options o;
        o.link = link;
        o.family = family;
        o.reconnect = reconnect;
        o.interval = std::chrono::milliseconds(static_cast<std::int64_t>(std::max(interval, 0.0) * 1000));
        o.queue = queue;
        o.baud = baud;
        o.scanner_baud = scanner_baud;
        auto s = std::make_unique<PyScanner>(o);
        std::error_code ec;
        {
          py::gil_scoped_release unlocked;
          ec = s->scanner.open();
        }
        if (ec) raise(ec);
        return s;
      },
      py::arg("link"), py::arg("family") = "LMS", py::arg("reconnect") = false, py::arg("interval") = 1.0,
      py::arg("queue") = 4, py::arg("baud") = 9600, py::arg("scanner_baud") = 0,
      "Opens a scanner and starts acquisition. link: 'tcp://HOST[:PORT]', 'serial:///dev/ttyUSB0' or "
      "'file:RECORDING'; interval in seconds between requests; queue: scans kept for next().");

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
  m.attr("__version__") = lmsview::version();
}
