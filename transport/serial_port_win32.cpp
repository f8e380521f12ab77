// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "platform/error.h"
#include "platform/serial_rates.h"
#include "transport/serial_port.h"

namespace transport {

namespace {

std::error_code openError(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    // No sharing is asked for, so another holder shows up as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return std::make_error_code(std::errc::device_or_resource_busy);
    case ERROR_INVALID_PARAMETER:
      return std::make_error_code(std::errc::invalid_argument);
    default:
      return platform::osError(static_cast<int>(err));
  }
}

// Errors after the open that mean the device went away (a USB adapter unplugged).
bool meansGone(DWORD err) {
  return err == ERROR_BROKEN_PIPE || err == ERROR_ACCESS_DENIED || err == ERROR_OPERATION_ABORTED ||
         err == ERROR_BAD_COMMAND || err == ERROR_DEVICE_NOT_CONNECTED || err == ERROR_GEN_FAILURE;
}

}  // namespace

struct SerialPort::Native {
  HANDLE handle = INVALID_HANDLE_VALUE;
  // waitData reads one byte with a timeout; that byte is delivered first by read().
  bool haveLookAhead = false;
  std::uint8_t lookAhead = 0;
};

bool isDevicePath(std::string_view name) {
  return name.substr(0, 4) == "\\\\.\\";
}

std::string_view comNumberMeaning() {
  return "COMn";
}

// Ports above COM10 (USB adapters often are) are named this way.
std::string_view devicePathExample() {
  return "\\\\.\\COM12";
}

std::string SerialPort::devicePathFor(int port) {
  if (port < 1) return "";
  return "\\\\.\\COM" + std::to_string(port);
}

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::fail(std::error_code ec) {
  lastError_ = ec;
  if (native_->handle != INVALID_HANDLE_VALUE) ::CloseHandle(native_->handle);
  native_->handle = INVALID_HANDLE_VALUE;
  return false;
}

bool SerialPort::open(const char* device, int baud) {
  if (isOpen_) return true;
  devicePath_ = device ? device : "";
  gone_ = false;
  native_->haveLookAhead = false;
  if (!platform::isLineRate(baud)) return fail(std::make_error_code(std::errc::invalid_argument));
  // No sharing: the device is ours alone while open.
  native_->handle =
      ::CreateFileA(devicePath_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (native_->handle == INVALID_HANDLE_VALUE) return fail(openError(::GetLastError()));
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(native_->handle, &dcb)) return fail(platform::lastOsError());
  // The rate and 8 data bits; parity, stop bits and hardware flow control as
  // the device has them. Software flow control, null stripping and the stop
  // on a line error would eat or hold reply bytes (0x11, 0x13, 0x00 are
  // ordinary data here): they go, as the POSIX line setup clears them.
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!::SetCommState(native_->handle, &dcb)) return fail(platform::lastOsError());
  // Reads return at once with what is queued; a write waits a bounded time.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.WriteTotalTimeoutConstant = kSerialWriteWaitMs;
  if (!::SetCommTimeouts(native_->handle, &t)) return fail(platform::lastOsError());
  // What came in before the line was set to this rate means nothing at it.
  ::PurgeComm(native_->handle, PURGE_RXCLEAR);
  isOpen_ = true;
  baud_ = baud;
  lastError_.clear();
  return true;
}

bool SerialPort::close() {
  if (!isOpen_) return true;
  ::CloseHandle(native_->handle);
  native_->handle = INVALID_HANDLE_VALUE;
  native_->haveLookAhead = false;
  isOpen_ = false;
  return true;
}

int SerialPort::write(const std::uint8_t* bytes, int count) {
  if (!isOpen_ || count <= 0) return 0;
  DWORD written = 0;
  if (!::WriteFile(native_->handle, bytes, static_cast<DWORD>(count), &written, nullptr)) {
    const DWORD err = ::GetLastError();
    if (meansGone(err))
      markGone(platform::osError(static_cast<int>(err)));
    else
      lastError_ = platform::osError(static_cast<int>(err));
  } else if (static_cast<int>(written) < count) {
    lastError_ = std::make_error_code(std::errc::timed_out);  // the bound passed with the line full
  }
  return static_cast<int>(written);
}

int SerialPort::available() {
  if (!isOpen_) return 0;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(native_->handle, &errors, &stat)) {
    markGone(platform::lastOsError());
    return native_->haveLookAhead ? 1 : 0;
  }
  return static_cast<int>(stat.cbInQue) + (native_->haveLookAhead ? 1 : 0);
}

int SerialPort::read(std::uint8_t* buffer, int limit) {
  if (!isOpen_ || limit <= 0) return 0;
  int got = 0;
  if (native_->haveLookAhead) {
    buffer[got++] = native_->lookAhead;
    native_->haveLookAhead = false;
  }
  if (got == limit) return got;
  DWORD n = 0;
  if (!::ReadFile(native_->handle, buffer + got, static_cast<DWORD>(limit - got), &n, nullptr)) {
    const DWORD err = ::GetLastError();
    if (meansGone(err)) markGone(platform::osError(static_cast<int>(err)));
    return got;
  }
  return got + static_cast<int>(n);
}

bool SerialPort::waitData(int timeoutMs) {
  if (!isOpen_) return false;
  if (native_->haveLookAhead || available() > 0) return true;
  // A one-byte read with a total timeout sleeps until a byte or the bound,
  // where an event wait is not available everywhere.
  COMMTIMEOUTS wait{};
  wait.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 1);
  wait.WriteTotalTimeoutConstant = kSerialWriteWaitMs;
  ::SetCommTimeouts(native_->handle, &wait);
  DWORD n = 0;
  const BOOL ok = ::ReadFile(native_->handle, &native_->lookAhead, 1, &n, nullptr);
  const DWORD err = ok ? 0 : ::GetLastError();
  COMMTIMEOUTS normal{};
  normal.ReadIntervalTimeout = MAXDWORD;
  normal.WriteTotalTimeoutConstant = kSerialWriteWaitMs;
  ::SetCommTimeouts(native_->handle, &normal);
  if (!ok) {
    if (meansGone(err)) markGone(platform::osError(static_cast<int>(err)));
    return false;
  }
  native_->haveLookAhead = n == 1;
  return native_->haveLookAhead;
}

}  // namespace transport
