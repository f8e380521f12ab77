#include <fcntl.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/files.h"

namespace platform {

std::FILE* createFile(const std::string& path, bool replace, std::error_code* ec) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0666);
  if (fd < 0) {
    *ec = lastOsError();
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) {
    *ec = lastOsError();
    ::close(fd);
  }
  return f;
}

}  // namespace platform
