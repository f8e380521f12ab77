// SPDX-License-Identifier: Apache-2.0
// The C interface over lmsview::Scanner. Nothing throws across it: every
// entry catches what the C++ side could throw (only memory exhaustion).

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "lms/engine/errors.h"
#include "lms/engine/option_rules.h"
#include "lms/protocol/reply.h"
#include "lmsview/lmsview.h"
#include "lmsview/scanner.h"

// The options until the start, then the scanner. `mutex` orders the start
// against lmsview_cancel, the one call another thread may make.
struct lmsview_scanner {
  lmsview::Options options;
  std::mutex mutex;
  std::optional<lmsview::Scanner> scanner;
  bool cancelled = false;
  lmsview::Scan pending;  // a scan taken but not yet handed out
  bool havePending = false;
  std::string detail;  // lmsview_last_error_text's line
};

namespace {

int codeOf(const std::error_code& ec) {
  if (!ec) return LMSVIEW_OK;
  if (ec.category() == lmsview::error_category()) return ec.value();
  return LMSVIEW_LINK_FAILED;
}

// Keeps the reason behind a failure for lmsview_last_error_text; a call
// that did not fail leaves none.
int failed(lmsview_scanner* s, std::error_code ec) {
  const int code = codeOf(ec);
  if (code == LMSVIEW_OK || code == LMSVIEW_TIMEOUT) {
    s->detail.clear();
  } else {
    s->detail = s->scanner ? s->scanner->last_error_detail() : std::string();
    if (s->detail.empty()) s->detail = ec.message();
  }
  return code;
}

// The oldest scan not yet handed out, into s->pending.
int take(lmsview_scanner* s, int timeoutMs) {
  if (s->havePending) {
    s->detail.clear();
    return LMSVIEW_OK;
  }
  if (!s->scanner) return failed(s, lmsview::errc::closed);
  const int code = failed(s, s->scanner->next(s->pending, std::chrono::milliseconds(timeoutMs)));
  s->havePending = code == LMSVIEW_OK;
  return code;
}

}  // namespace

extern "C" {

lmsview_scanner* lmsview_create(const char* link, const char* family, int* error) {
  int code = LMSVIEW_OK;
  lmsview_scanner* s = nullptr;
  if (link == nullptr) {
    code = LMSVIEW_BAD_ARGUMENT;
  } else {
    try {
      s = new lmsview_scanner;
      s->options.link = link;
      s->options.family = family ? family : "LMS";
    } catch (...) {
      delete s;
      s = nullptr;
      code = LMSVIEW_LINK_FAILED;
    }
  }
  if (error) *error = code;
  return s;
}

int lmsview_set_option(lmsview_scanner* scanner, int option, int64_t value) {
  if (scanner == nullptr) return LMSVIEW_BAD_ARGUMENT;
  if (scanner->scanner) return LMSVIEW_ALREADY_OPEN;
  lmsview::Options& o = scanner->options;
  std::string problem;
  const auto flag = [&](const char* name, bool* field) {
    if (value == 0 || value == 1)
      *field = value == 1;
    else
      problem = std::string(name) + " must be 0 or 1, not " + std::to_string(value);
  };
  switch (option) {
    case LMSVIEW_OPTION_VARIANT: {
      const lms::Variant* v = lms::variantOf(static_cast<int>(std::clamp<int64_t>(value, 0, 1000)));
      if (value != 0 && v == nullptr)
        problem = "variant must be 0 or the points of one (" + lms::variantPointNames() + "), not " +
                  std::to_string(value);
      else
        o.variant = v ? v->name : "";
      break;
    }
    case LMSVIEW_OPTION_UNITS:
      if (value == LMSVIEW_UNITS_MM || value == LMSVIEW_UNITS_CM || value == LMSVIEW_UNITS_DM)
        o.units = value == LMSVIEW_UNITS_CM ? "cm" : value == LMSVIEW_UNITS_DM ? "dm" : "mm";
      else
        problem = lms::checkUnits(std::to_string(value));
      break;
    case LMSVIEW_OPTION_BAUD:
      if (problem = lms::checkBaud(value); problem.empty()) o.baud = static_cast<int>(value);
      break;
    case LMSVIEW_OPTION_SCANNER_BAUD:
      if (problem = lms::checkScannerBaud(value); problem.empty()) o.scanner_baud = static_cast<int>(value);
      break;
    case LMSVIEW_OPTION_RECONNECT:
      flag("reconnect", &o.reconnect);
      break;
    case LMSVIEW_OPTION_STREAM:
      flag("stream", &o.stream);
      break;
    case LMSVIEW_OPTION_INTERVAL_MS:
      if (problem = lms::checkInterval(value); problem.empty()) o.interval = std::chrono::milliseconds(value);
      break;
    case LMSVIEW_OPTION_QUEUE:
      if (problem = lms::checkQueue(value < 0 ? 0 : static_cast<std::uint64_t>(value)); problem.empty())
        o.queue = static_cast<std::size_t>(value);
      break;
    default:
      problem = "no option " + std::to_string(option);
      break;
  }
  try {
    scanner->detail = problem;
  } catch (...) {
    scanner->detail.clear();
  }
  return problem.empty() ? LMSVIEW_OK : LMSVIEW_BAD_ARGUMENT;
}

int lmsview_set_filter(lmsview_scanner* scanner, double crop_min_deg, double crop_max_deg,
                       const double* masks_deg, size_t mask_count, double range_min_m, double range_max_m) {
  if (scanner == nullptr || (masks_deg == nullptr && mask_count != 0)) return LMSVIEW_BAD_ARGUMENT;
  if (scanner->scanner) return LMSVIEW_ALREADY_OPEN;
  try {
    lmsview::ScanFilter filter{.crop_min_deg = crop_min_deg,
                               .crop_max_deg = crop_max_deg,
                               .mask_deg = {},
                               .range_min_m = range_min_m,
                               .range_max_m = range_max_m};
    for (size_t i = 0; i < mask_count; ++i)
      filter.mask_deg.emplace_back(masks_deg[2 * i], masks_deg[2 * i + 1]);
    scanner->detail = lms::checkFilter(filter, scanner->options.variant);
    if (!scanner->detail.empty()) return LMSVIEW_BAD_ARGUMENT;
    scanner->options.filter = std::move(filter);
    return LMSVIEW_OK;
  } catch (...) {
    scanner->detail.clear();
    return LMSVIEW_BAD_ARGUMENT;  // no memory for the masks
  }
}

int lmsview_start(lmsview_scanner* scanner) {
  if (scanner == nullptr) return LMSVIEW_BAD_ARGUMENT;
  try {
    {
      std::lock_guard lock(scanner->mutex);
      // A cancelled handle starts anew; one whose start failed or whose
      // acquisition ended is started again by its scanner.
      if (scanner->cancelled) {
        scanner->scanner.reset();
        scanner->cancelled = false;
      }
      if (!scanner->scanner) scanner->scanner.emplace(scanner->options);
      scanner->havePending = false;
    }
    const int code = failed(scanner, scanner->scanner->open());
    if (code == LMSVIEW_OK) {
      scanner->detail.clear();
    } else if (code != LMSVIEW_ALREADY_OPEN) {
      // The options may change before the next try.
      std::lock_guard lock(scanner->mutex);
      scanner->scanner.reset();
    }
    return code;
  } catch (...) {
    return LMSVIEW_LINK_FAILED;
  }
}

lmsview_scanner* lmsview_open(const char* link, const char* family, int* error) {
  int code = LMSVIEW_OK;
  lmsview_scanner* s = lmsview_create(link, family, &code);
  if (s != nullptr) code = lmsview_start(s);
  if (code != LMSVIEW_OK) {
    delete s;
    s = nullptr;
  }
  if (error) *error = code;
  return s;
}

int lmsview_next_scan(lmsview_scanner* scanner, float* ranges_m, uint16_t* words, size_t capacity,
                      size_t* count, lmsview_geometry* geometry, uint64_t* seq, int64_t* stamp_ns,
                      int timeout_ms) {
  if (scanner == nullptr || timeout_ms < 0) return LMSVIEW_BAD_ARGUMENT;
  try {
    const int code = take(scanner, timeout_ms);
    if (code != LMSVIEW_OK) return code;
    const lmsview::Scan& scan = scanner->pending;
    const lmsview::Geometry& g = scan.geometry;
    if (count) *count = g.count;
    if (geometry)
      *geometry = {g.count,     g.angle_min, g.angle_max(), g.angle_increment,
                   g.range_min, g.range_max, g.range_unit};
    if (g.count > capacity && (ranges_m != nullptr || words != nullptr)) {
      scanner->detail =
          "the scan has " + std::to_string(g.count) + " points; the arrays take " + std::to_string(capacity);
      return LMSVIEW_WRONG_SIZE;  // kept for a call with room
    }
    if (ranges_m) std::memcpy(ranges_m, scan.ranges.data(), sizeof(float) * g.count);
    if (words) std::memcpy(words, scan.words.data(), sizeof(uint16_t) * g.count);
    if (seq) *seq = scan.seq;
    if (stamp_ns) *stamp_ns = scan.stamp_ns;
    scanner->havePending = false;
    return LMSVIEW_OK;
  } catch (...) {
    return LMSVIEW_LINK_FAILED;
  }
}

int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq, int64_t* stamp_ns,
                 int timeout_ms) {
  if (scanner == nullptr || ranges_m == nullptr || timeout_ms < 0) return LMSVIEW_BAD_ARGUMENT;
  try {
    const int code = take(scanner, timeout_ms);
    if (code != LMSVIEW_OK) return code;
    if (scanner->pending.geometry.count != LMSVIEW_POINTS) {
      // A version 1 caller has no room for another geometry: the scan goes.
      scanner->havePending = false;
      scanner->detail = "the scan has " + std::to_string(scanner->pending.geometry.count) +
                        " points; lmsview_next takes 361 (use lmsview_next_scan)";
      return LMSVIEW_WRONG_SIZE;
    }
  } catch (...) {
    return LMSVIEW_LINK_FAILED;
  }
  return lmsview_next_scan(scanner, ranges_m, nullptr, LMSVIEW_POINTS, nullptr, nullptr, seq, stamp_ns, 0);
}

void lmsview_cancel(lmsview_scanner* scanner) {
  if (scanner == nullptr) return;
  std::lock_guard lock(scanner->mutex);
  scanner->cancelled = true;
  if (scanner->scanner) scanner->scanner->close();
}

void lmsview_close(lmsview_scanner* scanner) {
  delete scanner;
}

const char* lmsview_error_text(int error) {
  if (error == LMSVIEW_OK) return "no error";
  const lms::ErrorContract* row = lms::contractOf(error);
  return row ? row->message : "unknown lmsview error";
}

const char* lmsview_last_error_text(const lmsview_scanner* scanner) {
  if (scanner == nullptr) return "";
  return scanner->detail.c_str();
}

const char* lmsview_version(void) {
  return lmsview::version();
}

}  // extern "C"
