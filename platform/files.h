#pragma once

// Files the program creates for the user (--record).

#include <cstdio>
#include <string>
#include <system_error>

namespace platform {

// Creates `path` for writing in binary. An existing file is refused
// (std::errc::file_exists) unless `replace`, in the same step that creates
// it. nullptr with the error in *ec on failure.
std::FILE* createFile(const std::string& path, bool replace, std::error_code* ec);

}  // namespace platform
