// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/error.h"
#include "platform/files.h"

namespace platform {

namespace {

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

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

FileTarget checkFileTarget(const std::string& path, std::error_code* ec) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return FileTarget::Folder;
    if (!S_ISREG(st.st_mode)) return FileTarget::NotRegular;
  } else if (errno != ENOENT) {
    *ec = lastOsError();
    return FileTarget::FolderNotWritable;
  }
  const std::string folder = folderOf(path);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return FileTarget::NoFolder;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    *ec = lastOsError();
    return FileTarget::FolderNotWritable;
  }
  return FileTarget::Usable;
}

std::error_code replaceFile(const std::string& path, std::string_view bytes) {
  const std::string folder = folderOf(path);
  std::random_device random;
  std::string temporary;
  int fd = -1;
  // A name taken by chance (or planted) is skipped for another.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "/.lmsview-%d-%08x%08x.tmp", static_cast<int>(::getpid()), random(),
                  random());
    temporary = folder + name;
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return lastOsError();
  }
  if (fd < 0) return std::make_error_code(std::errc::file_exists);
  std::error_code ec;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ec = n < 0 ? lastOsError() : std::make_error_code(std::errc::io_error);
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::close(fd) != 0 && !ec) ec = lastOsError();
  if (!ec && ::rename(temporary.c_str(), path.c_str()) != 0) ec = lastOsError();
  if (ec) ::unlink(temporary.c_str());
  return ec;
}

std::vector<std::string> commandLineWords(int argc, char** argv) {
  return {argv, argv + argc};
}

}  // namespace platform
