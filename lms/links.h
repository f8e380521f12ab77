#pragma once

// Binds the two transports to the three operations the exchanges need (and the
// optional wait and loss queries). Plain value wrappers; no virtual calls.

#include <cstdint>

#include "transport/serial_port.h"
#include "transport/tcp_client.h"

// Serial line: bytes as they arrive.
struct SerialPortLink {
  SerialPort& port;
  int write(const std::uint8_t* bytes, int count) { return port.write(bytes, count); }
  bool hasData() { return port.available() > 0; }
  int read(std::uint8_t* buffer, int room) { return port.read(buffer, room); }
  bool waitData(int ms) { return port.waitData(ms); }
  bool lost() { return port.gone(); }
};

// TCP: whole messages, closed by silence.
struct TcpClientLink {
  TcpClient& client;
  int write(const std::uint8_t* bytes, int count) { return client.send(bytes, count); }
  bool hasData() { return client.hasReady() == 1; }
  int read(std::uint8_t* buffer, int room) { return client.readReady(buffer, room); }
  bool waitData(int ms) { return client.waitReady(ms); }
  bool lost() { return client.drained(); }
};
