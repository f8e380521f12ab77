// SPDX-License-Identifier: Apache-2.0
#pragma once

// TCP link to the scanner. Incoming bytes are cut into messages by 50 ms of
// silence (see SilenceFramer) and handed over through a single ready slot.
//
// Threads: the owner calls every public operation from one thread.
// SocketThread blocks in receive and adds each chunk to the framer;
// FramingThread sleeps until a chunk is pending, then until that chunk's
// silence deadline, and publishes the message. The framer (message and ready
// slot) and the last error are guarded by one mutex. Six flags are atomics,
// stored with release and loaded with acquire: `running_`, `closing_`,
// `socketThreadDone_`, `framingThreadDone_`, `lost_` and `closedByPeer_`; the ones the
// condition waits test are also changed under the mutex, so no wake-up is
// missed. Neither thread spins: each blocks in receive or in a condition wait
// with a deadline.
//
// Lifetime: close() (and the destructor) clears `running_`, interrupts the
// socket so a blocked receive returns, joins both threads and only then
// closes the socket, so no thread touches a client after it is gone.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "transport/message_sink.h"
#include "transport/silence_framer.h"
#include "transport/stream_socket.h"

namespace transport {

// Bound on a connection attempt, so an unreachable host does not hold the
// program for minutes.
inline constexpr int kConnectTimeoutMs = 3000;
// Bytes a raw client keeps for its reader: over a second of a 500 000-baud line.
inline constexpr std::size_t kRawCapacity = 64 * 1024;

class TcpClient;
int SocketThread(TcpClient& client);
int FramingThread(TcpClient& client);

class TcpClient {
 public:
  // Progress lines ("conexion iniciada", thread start-ups) go to `out`
  // (from the owner's thread and from both of the client's own); none by default.
  explicit TcpClient(MessageSink out = {});
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;
  ~TcpClient();

  // Lets whole messages by `check` out as soon as their last byte arrives
  // (see SilenceFramer). Called before connect.
  void setMessageCheck(MessageCheck check);
  // The receiver's two start-up pauses (100 ms each unless set; tests that
  // connect many times set less). Called before connect.
  void setStartPauseMs(int ms) { startPauseMs_ = ms; }
  // Hands over the bytes as they come instead of messages: each read takes
  // (part of) one received chunk, stamped when it came off the socket, and
  // no silence rule applies. For a peer that sends without pausing (a
  // scanner's continuous output). Up to kRawCapacity bytes wait for the
  // reader; more are dropped (and counted). Before connect it also drops
  // the receiver's start-up pauses (whatever comes is stamped as it comes);
  // on a connection it takes effect at once, the message waiting and the
  // bytes gathered first in the queue. There is no way back.
  void setRawStream();

  // Connects to a dotted-decimal IPv4 address; false for any failure (a
  // malformed address, refused, unreachable, or not done within `timeoutMs`).
  bool connect(const char* address, std::uint16_t port, int timeoutMs = kConnectTimeoutMs);
  // One send call for all bytes; the socket's own result (-1 on error).
  // Never raises SIGPIPE. `more`: the caller sends more at once (see StreamSocket::send).
  int send(const void* bytes, int count, bool more = false);
  // 1 when a message is waiting in the ready slot, else 0.
  int hasReady();
  // Takes the ready message: stores at most `wanted` bytes, returns its full
  // length. Raw: stores and returns at most `wanted` bytes of one chunk.
  int readReady(std::uint8_t* destination, int wanted);
  // Blocks until the receiver reads the socket (it begins after its start-up
  // pauses), the connection is lost or `timeoutMs` passes: what the peer
  // sends from then on is stamped when it comes. True when it reads.
  bool waitReceiving(int timeoutMs);
  // The host wall-clock time (ns since the epoch) at which byte `index` (0
  // or 1; later bytes count as 1) of the message last taken came off the socket.
  std::int64_t arrivalNs(int index) const { return lastArrivals_[index > 0 ? 1 : 0]; }
  // True when a socket was closed, false when there was none.
  bool close();

  // Blocks until a message is ready, the connection is lost, `timeoutMs`
  // passes, or `stop` (when given) is raised and wakeWaiters() called.
  bool waitReady(int timeoutMs, const std::atomic<bool>* stop = nullptr);
  // Wakes waitReady() to look at its stop flag again (from any thread).
  void wakeWaiters();
  // Asks both threads to end (a blocked receive is woken) without closing.
  void stopRunning();
  bool running() const { return running_.load(std::memory_order_acquire); }
  bool socketThreadDone() const { return socketThreadDone_.load(std::memory_order_acquire); }
  // The peer closed the connection or the socket failed while running (the
  // same name as the serial port's: the link is gone).
  bool gone() const { return lost_.load(std::memory_order_acquire); }
  // The loss was an orderly close by the peer (a read of nothing).
  bool closedByPeer() const { return closedByPeer_.load(std::memory_order_acquire); }
  // Bytes have come that no message holds yet (they have not paused for 50 ms).
  bool gathering() const;
  // The connection is lost and every message it carried has been taken.
  bool drained();
  // The last failure (connect, or the receive that lost the link).
  std::error_code lastError() const;
  std::int64_t droppedMessages() const;
  std::int64_t droppedBytes() const;

 private:
  friend int SocketThread(TcpClient& client);
  friend int FramingThread(TcpClient& client);
  void say(std::string_view text);
  bool ready() const;                                                     // under mutex_
  void addRaw(const std::uint8_t* bytes, int n, std::int64_t arrivalNs);  // under mutex_
  bool pauseUnlessClosing(int ms);
  void endThreads();
  void setLastError(std::error_code ec);

  MessageSink out_;
  int startPauseMs_ = 100;
  bool raw_ = false;  // guarded by mutex_ once connected
  StreamSocket socket_;
  std::thread socketThread_;
  std::thread framingThread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> socketThreadDone_{false};
  std::atomic<bool> framingThreadDone_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> closedByPeer_{false};
  std::uint8_t recvBuf_[kMessageCapacity];  // SocketThread's own
  std::int64_t lastArrivals_[2] = {};       // the owner's own

  mutable std::mutex mutex_;
  std::condition_variable framerWake_;  // a chunk arrived, or stopping
  std::condition_variable readyWake_;   // a message was published, or the link is gone
  SilenceFramer framer_;
  std::error_code lastError_;
  bool receiving_ = false;
  // Raw: the bytes not yet read and the chunks they came in (length,
  // arrival), each from a head index; compacted as they are read.
  std::vector<std::uint8_t> rawBytes_;
  std::size_t rawHead_ = 0;
  std::vector<std::pair<int, std::int64_t>> rawChunks_;
  std::size_t rawChunkHead_ = 0;
  std::int64_t rawDropped_ = 0;
};

// Stand-alone echo routine: connects, sends ten lines "socket %d\n", then
// reports ("men %d: %s\n" to `out`) and echoes every message (cut to 999
// bytes) until 101 have been echoed, the peer goes away, or `timeoutMs` passes.
void tcpEchoLoop(const char* address, std::uint16_t port, const MessageSink& out, int timeoutMs = 60000);

}  // namespace transport
