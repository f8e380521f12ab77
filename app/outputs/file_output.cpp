// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/file_output.h"

#include <cerrno>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace app {

FileOutput::~FileOutput() {
  if (file_) std::fclose(file_);
}

bool FileOutput::open(const std::string& path, bool replace, std::string* error) {
  path_ = path;
  const std::string shown = option_ + " " + platform::printable(path);
  std::error_code ec;
  const platform::FileTarget target = platform::checkFileTarget(path, &ec);
  if (target == platform::FileTarget::Folder) {
    *error = shown + ": it is a folder; name a file";
    return false;
  }
  // A FIFO would hold the open until a reader came; a device is no recording.
  if (target == platform::FileTarget::NotRegular) {
    *error = shown + ": " + std::string(kNotRegular);
    return false;
  }
  file_ = platform::createFile(path, replace, &ec);
  if (file_ != nullptr) return true;
  if (!replace && ec == std::errc::file_exists)
    *error = shown + ": the file exists (add --force to replace it)";
  else
    *error = shown + ": " + platform::errorText(ec);
  return false;
}

void FileOutput::report(std::FILE* messages, const std::string& what, std::error_code ec) {
  // Said once a run of failures, not once a scan.
  if (failing_) return;
  failing_ = true;
  std::fprintf(messages, "lmsview: %s%s\n", what.c_str(),
               ec ? platform::errorText(ec).c_str() : "write failed");
  std::fflush(messages);
}

bool FileOutput::write(std::string_view bytes, std::FILE* messages) {
  if (file_ == nullptr) return false;
  errno = 0;
  const bool ok =
      std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() && std::fflush(file_) == 0;
  if (ok) return true;
  // The C library says why in errno on every system (the OS's own last error
  // may say nothing after a stdio failure, as on Windows).
  const int cause = errno;
  // The file would hold a torn line from here on: recording stops.
  report(messages, "recording to " + platform::printable(path_) + " stopped: ",
         cause != 0 ? std::error_code(cause, std::generic_category()) : platform::lastOsError());
  std::fclose(file_);
  file_ = nullptr;
  stoppedEarly_ = true;
  return false;
}

std::string FileOutput::shortfall(std::uint64_t scans) const {
  if (stoppedEarly_)
    return option_ + " " + platform::printable(path_) + " stopped early: it holds " + std::to_string(scans) +
           " scans";
  // A file written whole that never was: the run did not give what it was asked for.
  if (replaced_ == 0 && lastError_)
    return option_ + " " + platform::printable(path_) + ": no picture could be written (" +
           platform::errorText(lastError_) + ")";
  return "";
}

void FileOutput::replace(std::string_view bytes, std::FILE* messages) {
  const std::error_code ec = platform::replaceFile(path_, bytes);
  lastError_ = ec;
  if (!ec) {
    ++replaced_;
    failing_ = false;
    return;
  }
  report(messages,
         option_ + " " + platform::printable(path_) +
             ": cannot replace the picture (trying again at each scan): ",
         ec);
}

}  // namespace app
