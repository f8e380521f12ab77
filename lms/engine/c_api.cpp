// The C interface over lmsview::Scanner. Nothing throws across it: every
// entry catches what the C++ side could throw (only memory exhaustion).

#include <cstring>
#include <new>

#include "lmsview/lmsview.h"
#include "lmsview/scanner.h"

struct lmsview_scanner {
  explicit lmsview_scanner(lmsview::Options o) : scanner(std::move(o)) {}
  lmsview::Scanner scanner;
};

namespace {

int codeOf(const std::error_code& ec) {
  if (!ec) return LMSVIEW_OK;
  if (ec.category() == lmsview::error_category()) return ec.value();
  return LMSVIEW_LINK_FAILED;
}

}  // namespace

extern "C" {

lmsview_scanner* lmsview_open(const char* link, const char* family, int* error) {
  int code = LMSVIEW_OK;
  lmsview_scanner* s = nullptr;
  if (link == nullptr) {
    code = LMSVIEW_BAD_ARGUMENT;
  } else {
    try {
      s = new lmsview_scanner({.link = link, .family = family ? family : "LMS"});
      code = codeOf(s->scanner.open());
    } catch (...) {
      code = LMSVIEW_LINK_FAILED;
    }
    if (code != LMSVIEW_OK) {
      delete s;
      s = nullptr;
    }
  }
  if (error) *error = code;
  return s;
}

int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq, int64_t* stamp_ns,
                 int timeout_ms) {
  if (scanner == nullptr || ranges_m == nullptr || timeout_ms < 0) return LMSVIEW_BAD_ARGUMENT;
  try {
    lmsview::Scan scan;
    const int code = codeOf(scanner->scanner.next(scan, std::chrono::milliseconds(timeout_ms)));
    if (code != LMSVIEW_OK) return code;
    std::memcpy(ranges_m, scan.ranges.data(), sizeof(float) * LMSVIEW_POINTS);
    if (seq) *seq = scan.seq;
    if (stamp_ns) *stamp_ns = scan.stamp_ns;
    return LMSVIEW_OK;
  } catch (...) {
    return LMSVIEW_LINK_FAILED;
  }
}

void lmsview_close(lmsview_scanner* scanner) {
  delete scanner;
}

const char* lmsview_error_text(int error) {
  switch (error) {
    case LMSVIEW_OK:
      return "no error";
    case LMSVIEW_BAD_ARGUMENT:
      return "a bad argument (a null pointer or a negative timeout)";
    case LMSVIEW_END_OF_RECORDING:
      return "the recording has no more scans";
    case LMSVIEW_BAD_RECORDING:
      return "the recording cannot be read";
    default:
      break;
  }
  // The texts of the C++ side, kept for the life of the process.
  static const std::string texts[] = {
      lmsview::error_category().message(1),  lmsview::error_category().message(2),
      lmsview::error_category().message(3),  lmsview::error_category().message(4),
      lmsview::error_category().message(5),  lmsview::error_category().message(6),
      lmsview::error_category().message(7),  lmsview::error_category().message(8),
      lmsview::error_category().message(9),  lmsview::error_category().message(10),
      lmsview::error_category().message(11),
  };
  if (error >= 1 && error <= 11) return texts[error - 1].c_str();
  return "unknown lmsview error";
}

const char* lmsview_version(void) {
  return lmsview::version();
}

}  // extern "C"
