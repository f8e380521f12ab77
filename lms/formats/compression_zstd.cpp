// SPDX-License-Identifier: Apache-2.0
#include <zstd.h>

#include "lms/formats/compression.h"

namespace lms {

bool zstdAvailable() {
  return true;
}

bool zstdCompress(std::string_view in, std::string* out) {
  out->resize(ZSTD_compressBound(in.size()));
  // Level 3, zstd's default: most of the saving at a small cost a scan.
  const std::size_t n = ZSTD_compress(out->data(), out->size(), in.data(), in.size(), 3);
  if (ZSTD_isError(n)) return false;
  out->resize(n);
  return true;
}

bool zstdDecompress(std::string_view in, std::size_t size, std::string* out) {
  out->resize(size);
  const std::size_t n = ZSTD_decompress(out->data(), out->size(), in.data(), in.size());
  return !ZSTD_isError(n) && n == size;
}

}  // namespace lms
