// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <random>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

std::string utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<std::size_t>(n - 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\"
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

std::FILE* createFile(const std::string& path, bool replace, std::error_code* ec) {
  const int fd =
      ::_wopen(widePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | (replace ? _O_TRUNC : _O_EXCL),
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

namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in any folder and with
// any extension ("aux", "R:\\x\\CON.mcap"), whether or not a file seems to be
// there; so do the console's CONIN$ and CONOUT$.
bool reservedDeviceName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
  stem = stem.substr(0, stem.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

}  // namespace

FileTarget checkFileTarget(const std::string& path, std::error_code* ec) {
  if (reservedDeviceName(path)) return FileTarget::NotRegular;
  const std::wstring w = widePath(path);
  const DWORD attributes = ::GetFileAttributesW(w.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileTarget::Folder;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileTarget::NotRegular;
    // NUL, CON, COM1 ...: names of devices, not files.
    const HANDLE h = ::CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      const DWORD type = ::GetFileType(h);
      ::CloseHandle(h);
      if (type != FILE_TYPE_DISK) return FileTarget::NotRegular;
    }
  }
  const std::string folderPath = folderOf(path);
  const DWORD folder = ::GetFileAttributesW(widePath(folderPath).c_str());
  if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) return FileTarget::NoFolder;
  // Whether the folder takes a new file is found by making one: a folder's
  // read-only attribute means nothing to Windows (Explorer sets it on the
  // folders it customises), its permissions are what count.
  std::random_device random;
  char name[64];
  std::snprintf(name, sizeof name, "\\.lmsview-%lu-%08x.tmp", ::GetCurrentProcessId(), random());
  const HANDLE probe =
      ::CreateFileW(widePath(folderPath + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    *ec = lastOsError();
    return FileTarget::FolderNotWritable;
  }
  ::CloseHandle(probe);
  return FileTarget::Usable;
}

std::error_code replaceFile(const std::string& path, std::string_view bytes) {
  const std::string folder = folderOf(path);
  std::random_device random;
  std::wstring temporary;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "\\.lmsview-%lu-%08x%08x.tmp", ::GetCurrentProcessId(), random(),
                  random());
    temporary = widePath(folder + name);
    h = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return lastOsError();
  }
  if (h == INVALID_HANDLE_VALUE) return std::make_error_code(std::errc::file_exists);
  std::error_code ec;
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
    if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) {
      ec = lastOsError();
      if (!ec) ec = std::make_error_code(std::errc::io_error);
      break;
    }
    bytes.remove_prefix(written);
  }
  ::CloseHandle(h);
  if (!ec && !::MoveFileExW(temporary.c_str(), widePath(path).c_str(), MOVEFILE_REPLACE_EXISTING))
    ec = lastOsError();
  if (ec) ::DeleteFileW(temporary.c_str());
  return ec;
}

std::vector<std::string> commandLineWords(int argc, char** argv) {
  int n = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (words == nullptr || n != argc) {
    if (words) ::LocalFree(words);
    return {argv, argv + argc};
  }
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(utf8(words[i]));
  ::LocalFree(words);
  return out;
}

}  // namespace platform
