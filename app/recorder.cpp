#include "app/recorder.h"

#include <cerrno>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace app {

Recorder::~Recorder() {
  if (file_) std::fclose(file_);
}

bool Recorder::open(const std::string& path, bool replace, std::string* error) {
  path_ = path;
  std::error_code ec;
  if (platform::checkFileTarget(path, &ec) == platform::FileTarget::Folder) {
    *error = "--record " + platform::printable(path) + ": it is a folder; name a file";
    return false;
  }
  file_ = platform::createFile(path, replace, &ec);
  if (file_ != nullptr) return true;
  if (!replace && ec == std::errc::file_exists)
    *error = "--record " + platform::printable(path) + ": the file exists (add --force to replace it)";
  else
    *error = "--record " + platform::printable(path) + ": " + platform::errorText(ec);
  return false;
}

void Recorder::write(const std::string& line, std::FILE* messages) {
  if (file_ == nullptr) return;
  errno = 0;
  const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0;
  if (ok) return;
  const std::error_code ec = platform::lastOsError();
  std::fprintf(messages, "lmsview: recording to %s stopped: %s\n", platform::printable(path_).c_str(),
               ec ? platform::errorText(ec).c_str() : "write failed");
  std::fflush(messages);
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace app
