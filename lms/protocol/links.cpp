// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/links.h"

#include "platform/error.h"
#include "platform/text.h"

namespace lms {

std::string serialDevicePath(const std::string& portName) {
  if (transport::isDevicePath(portName)) return portName;
  for (int n = 1; n <= 10; ++n)
    if (portName == "COM" + std::to_string(n)) return transport::SerialPort::devicePathFor(n);
  return portName;
}

LinkTarget serialTarget(const std::string& portName) {
  LinkTarget t;
  for (int n = 1; n <= 10; ++n)
    if (portName == "COM" + std::to_string(n)) t.comPort = n;
  if (transport::isDevicePath(portName)) t.devicePath = portName;
  t.baud = kSerialBaud;
  return t;
}

LinkTarget netTarget(const std::string& address, int port) {
  LinkTarget t;
  t.address = address;
  t.port = port;
  return t;
}

std::error_code SerialPortLink::open(Transport& port, const Target& t) {
  const std::string device = devicePathOf(t);
  if (device.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  return port.open(device.c_str(), t.baud) ? std::error_code() : port.lastError();
}

bool SerialPortLink::worthRetrying(std::error_code ec) {
  return ec != std::errc::no_such_file_or_directory && ec != std::errc::invalid_argument &&
         ec != std::errc::inappropriate_io_control_operation && ec != std::errc::permission_denied;
}

std::string SerialPortLink::openedText(const Target& t) {
  // A COM number is shown as COMn, a device named by path as its path.
  const std::string port =
      t.devicePath.empty() ? "COM" + std::to_string(t.comPort) : platform::printable(t.devicePath);
  return "Serial Conection ( Port: " + port + " , Baud : " + std::to_string(t.baud) + " )is open\n";
}

std::string SerialPortLink::openFailureText(const Target& t, std::error_code ec) {
  const std::string device = platform::printable(devicePathOf(t));
  // A device that opens but will not take the rate (a USB adapter without
  // 500000 baud) says so by the setting that failed.
  const std::string why = ec == std::errc::device_or_resource_busy ? std::string("in use by another program")
                          : ec == std::errc::invalid_argument
                              ? "it does not take " + std::to_string(t.baud) + " baud"
                              : platform::errorText(ec);
  return "cannot open serial port " + (device.empty() ? std::string("(no such port)") : device) + ": " + why;
}

// Shown in messages: user text stays on its line and cannot drive the terminal.
std::string SerialPortLink::placeText(const Target& t) {
  return platform::printable(devicePathOf(t));
}

std::string SerialPortLink::lossText() const {
  return "serial device " + platform::printable(port->deviceName()) + " is gone";
}

std::string TcpClientLink::placeText(const Target& t) {
  return platform::printable(t.address) + " port " + std::to_string(t.port);
}

bool SerialPortLink::reopenAt(int baud) {
  const std::string device = port->deviceName();
  port->close();
  return port->open(device.c_str(), baud);
}

std::string SerialPortLink::sendFailureText() const {
  const std::error_code ec = port->lastError();
  if (ec == std::errc::timed_out)
    return "the line took nothing for " + std::to_string(transport::kSerialWriteWaitMs) + " ms";
  return ec ? platform::errorText(ec) : std::string("the port is closed");
}

std::string TcpClientLink::lossText() const {
  // A read of nothing is an orderly close; anything else is a failure.
  if (client->closedByPeer()) return "the scanner closed the connection";
  return "the connection failed (" + platform::errorText(client->lastError()) + ")";
}

std::string TcpClientLink::sendFailureText() const {
  const std::error_code ec = client->lastError();
  return ec ? platform::errorText(ec) : std::string("the connection is not open");
}

std::error_code TcpClientLink::open(Transport& client, const Target& t) {
  if (!client.connect(t.address.empty() ? nullptr : t.address.c_str(), static_cast<std::uint16_t>(t.port)))
    return client.lastError();
  // The first request goes out once the receiver reads the socket, so its
  // answer is stamped when it comes, not when the receiver's start-up ends.
  client.waitReceiving(kReceiverStartBoundMs);
  return {};
}

bool TcpClientLink::worthRetrying(std::error_code ec) {
  return ec != std::errc::invalid_argument;
}

std::string TcpClientLink::openedText(const Target& t) {
  return "Network Conection ( IP: " + platform::printable(t.address) + "  Port: " + std::to_string(t.port) +
         " ) is open\n";
}

std::string TcpClientLink::openFailureText(const Target& t, std::error_code ec) {
  const std::string address = platform::printable(t.address);
  if (ec == std::errc::invalid_argument) return "not a dotted IPv4 address: " + address;
  return "cannot connect to " + (t.address.empty() ? std::string("(none)") : address) + " port " +
         std::to_string(t.port) + ": " + platform::errorText(ec);
}

}  // namespace lms
