// SPDX-License-Identifier: Apache-2.0
#pragma once

// Compression of MCAP chunks with zstd, where the build has it (Linux, with
// libzstd); elsewhere these say it is not there. One file a variant, picked
// by CMake.

#include <cstddef>
#include <string>
#include <string_view>

namespace lms {

bool zstdAvailable();
// False when the build has no zstd or it failed.
bool zstdCompress(std::string_view in, std::string* out);
// `size`: the uncompressed size the chunk states; false unless exactly that came out.
bool zstdDecompress(std::string_view in, std::size_t size, std::string* out);

}  // namespace lms
