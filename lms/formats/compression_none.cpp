// SPDX-License-Identifier: Apache-2.0
#include "lms/formats/compression.h"

namespace lms {

bool zstdAvailable() {
  return false;
}

bool zstdCompress(std::string_view, std::string*) {
  return false;
}

bool zstdDecompress(std::string_view, std::size_t, std::string*) {
  return false;
}

}  // namespace lms
