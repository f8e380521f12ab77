// SPDX-License-Identifier: Apache-2.0
#pragma once

// The library's error contract, one row for every lmsview::errc: its value
// in the C interface (the errc's own value), the C name, the Python
// exception and the builtin (or lmsview class) it derives from, and its
// one-line message. error_category(), lmsview_error_text() and the Python
// module are made from this table; a test holds the C header to it.

#include <span>

#include "lmsview/scanner.h"

namespace lms {

struct ErrorContract {
  lmsview::errc code;
  const char* cName;       // the C header's LMSVIEW_* macro
  const char* pythonName;  // the exception class in the lmsview module
  const char* pythonBase;  // a Python builtin, or an lmsview class listed before it
  const char* message;
};

std::span<const ErrorContract> errorContract();

// The row of `code`, or nullptr for a value that is no errc.
const ErrorContract* contractOf(int code);

}  // namespace lms
