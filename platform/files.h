// SPDX-License-Identifier: Apache-2.0
#pragma once

// Files the program creates for the user (--record, --svg). Paths are UTF-8
// text on every OS (on Windows they are opened through the wide-character
// calls, so a name such as C:\Users\José\scan.svg works).

#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

// Creates `path` for writing in binary. An existing file is refused
// (std::errc::file_exists) unless `replace`, in the same step that creates
// it. nullptr with the error in *ec on failure.
std::FILE* createFile(const std::string& path, bool replace, std::error_code* ec);

// What stands at a path the program is to write.
enum class FileTarget {
  Usable,             // a regular file, or nothing yet in a writable folder
  Folder,             // a folder
  NotRegular,         // a device, a pipe, a socket or a symbolic link
  NoFolder,           // its folder does not exist
  FolderNotWritable,  // its folder exists but takes no new file (*ec says why)
};
FileTarget checkFileTarget(const std::string& path, std::error_code* ec);

// Replaces `path` whole with `bytes`: a new temporary file with a unique
// name in the same folder, created exclusively and never through a link,
// then renamed over `path`, so a reader never sees half of one and a name
// planted beside it cannot redirect the write. The temporary file is gone
// again on failure.
std::error_code replaceFile(const std::string& path, std::string_view bytes);

// The command line as UTF-8 words (Windows hands programs its own code
// page; the wide command line holds every character).
std::vector<std::string> commandLineWords(int argc, char** argv);

}  // namespace platform
