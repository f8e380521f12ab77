// The C interface over lmsview::Scanner. Nothing throws across it: every
// entry catches what the C++ side could throw (only memory exhaustion).

#include <cstring>
#include <new>
#include <string>

#include "lms/engine/errors.h"
#include "lmsview/lmsview.h"
#include "lmsview/scanner.h"

struct lmsview_scanner {
  explicit lmsview_scanner(lmsview::Options o) : scanner(std::move(o)) {}
  lmsview::Scanner scanner;
  std::string detail;  // lmsview_last_error_text's line, kept until the next call that fails
};

namespace {

int codeOf(const std::error_code& ec) {
  if (!ec) return LMSVIEW_OK;
  if (ec.category() == lmsview::error_category()) return ec.value();
  return LMSVIEW_LINK_FAILED;
}

// Keeps the reason behind a failure for lmsview_last_error_text.
int failed(lmsview_scanner* s, std::error_code ec) {
  const int code = codeOf(ec);
  if (code != LMSVIEW_OK && code != LMSVIEW_TIMEOUT) {
    s->detail = s->scanner.last_error_detail();
    if (s->detail.empty()) s->detail = ec.message();
  }
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
      s = new lmsview_scanner({.link = link, .family = family ? family : "LMS"});
    } catch (...) {
      code = LMSVIEW_LINK_FAILED;
    }
  }
  if (error) *error = code;
  return s;
}

int lmsview_start(lmsview_scanner* scanner) {
  if (scanner == nullptr) return LMSVIEW_BAD_ARGUMENT;
  try {
    return failed(scanner, scanner->scanner.open());
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

int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq, int64_t* stamp_ns,
                 int timeout_ms) {
  if (scanner == nullptr || ranges_m == nullptr || timeout_ms < 0) return LMSVIEW_BAD_ARGUMENT;
  try {
    lmsview::Scan scan;
    const int code = failed(scanner, scanner->scanner.next(scan, std::chrono::milliseconds(timeout_ms)));
    if (code != LMSVIEW_OK) return code;
    std::memcpy(ranges_m, scan.ranges.data(),
                sizeof(float) * std::min<std::size_t>(scan.ranges.size(), LMSVIEW_POINTS));
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
