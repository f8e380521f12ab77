#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/files.h"

namespace platform {

std::FILE* createFile(const std::string& path, bool replace, std::error_code* ec) {
  const int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | (replace ? _O_TRUNC : _O_EXCL),
                         _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    *ec = std::error_code(errno, std::generic_category());
    return nullptr;
  }
  std::FILE* f = ::_fdopen(fd, "wb");
  if (f == nullptr) {
    *ec = std::error_code(errno, std::generic_category());
    ::_close(fd);
  }
  return f;
}

}  // namespace platform
