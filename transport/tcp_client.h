#pragma once

// TCP link to the scanner. Incoming bytes are cut into messages by 50 ms of
// silence (see SilenceFramer) and handed over through a single ready slot.
//
// Threads: the owner calls every public operation from one thread.
// SocketThread blocks in receive and adds each chunk to the framer;
// FramingThread sleeps until a chunk is pending, then until that chunk's
// silence deadline, and publishes the message. The framer (message and ready
// slot) is guarded by one mutex; `running` and `socketThreadDone` are atomics
// (release on store, acquire on load). Neither thread spins: each blocks in
// receive or in a condition wait with a deadline.
//
// Lifetime: close() (and the destructor) clears `running`, shuts the socket
// down so a blocked receive returns, joins both threads and only then closes
// the descriptor, so no thread touches a client after it is gone.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/unique_fd.h"
#include "transport/silence_framer.h"

// The scanner address used when the user names none: a fixed private-network
// address. Tests never use it.
inline constexpr const char* kDefaultScannerAddress = "192.168.0.10";
inline constexpr std::uint16_t kScannerPort = 10002;
// Bound on a connection attempt, so an unreachable host does not hold the
// program for minutes.
inline constexpr int kConnectTimeoutMs = 3000;

class TcpClient;
int SocketThread(TcpClient& client);
int FramingThread(TcpClient& client);

class TcpClient {
 public:
  // Progress lines ("conexion iniciada", thread start-ups) go to `out`; nullptr silences them.
  explicit TcpClient(std::FILE* out = stdout);
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;
  ~TcpClient();

  // Connects to a dotted-decimal IPv4 address; false for any failure (a
  // malformed address, refused, unreachable, or not done within `timeoutMs`).
  bool connect(const char* address, std::uint16_t port, int timeoutMs = kConnectTimeoutMs);
  // One send call for all bytes; the socket's own result (-1 on error). Never raises SIGPIPE.
  int send(const void* bytes, int count);
  // One receive of up to `size` bytes; used by SocketThread. Retries EINTR.
  int recv(std::uint8_t* buffer, int size);
  // 1 when a message is waiting in the ready slot, else 0.
  int hasReady();
  // Takes the ready message: stores at most `wanted` bytes, returns its full length.
  int readReady(std::uint8_t* destination, int wanted);
  // True when a socket was closed, false when there was none.
  bool close();

  // Blocks until a message is ready, the connection is lost, or `timeoutMs` passes.
  bool waitReady(int timeoutMs);
  // Asks both threads to end (a blocked receive is woken) without closing.
  void stopRunning();
  bool running() const { return running_.load(std::memory_order_acquire); }
  bool socketThreadDone() const { return socketThreadDone_.load(std::memory_order_acquire); }
  // The peer closed the connection or the socket failed while running.
  bool connectionLost() const { return lost_.load(std::memory_order_acquire); }
  // The connection is lost and every message it carried has been taken.
  bool drained();
  // errno of the last failure (connect, or the receive that lost the link).
  int lastError() const { return lastError_.load(std::memory_order_acquire); }
  std::int64_t droppedMessages() const;
  std::int64_t droppedBytes() const;

 private:
  friend int SocketThread(TcpClient& client);
  friend int FramingThread(TcpClient& client);
  void say(const char* text);
  bool pauseUnlessClosing(int ms);
  void endThreads();

  std::FILE* out_;
  UniqueFd sock;
  std::thread socketThreadHandle;
  std::thread framingThreadHandle;
  std::atomic<bool> running_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> socketThreadDone_{false};
  std::atomic<bool> framingThreadDone_{false};
  std::atomic<bool> lost_{false};
  std::atomic<int> lastError_{0};
  std::uint8_t recvBuf[kMessageCapacity];
  int chunkLen = 0;

  mutable std::mutex mutex_;
  std::condition_variable framerWake_;  // a chunk arrived, or stopping
  std::condition_variable readyWake_;   // a message was published, or the link is gone
  SilenceFramer framer_;
};

// Stand-alone echo routine: connects, sends ten lines "socket %d\n", then
// prints and echoes every message until 101 have been echoed, the peer goes
// away, or `timeoutMs` passes. Its default address is the built-in one.
void tcpEchoLoop(const char* address = kDefaultScannerAddress, std::uint16_t port = kScannerPort,
                 std::FILE* out = stdout, int timeoutMs = 60000);
