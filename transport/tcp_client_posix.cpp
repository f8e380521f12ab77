#include "transport/tcp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/io.h"

TcpClient::TcpClient(std::FILE* out) : out_(out) {}

TcpClient::~TcpClient() {
  close();
}

void TcpClient::say(const char* text) {
  if (out_ != nullptr) {
    std::fputs(text, out_);
    std::fflush(out_);
  }
}

bool TcpClient::connect(const char* address, std::uint16_t port, int timeoutMs) {
  if (sock.valid() || address == nullptr) return false;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (::inet_pton(AF_INET, address, &target.sin_addr) != 1) {
    lastError_.store(EINVAL, std::memory_order_release);
    return false;
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!fd.valid()) {
    lastError_.store(errno, std::memory_order_release);
    return false;
  }
  // Non-blocking connect with a bound, then back to blocking for the receiver.
  int rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
    lastError_.store(errno, std::memory_order_release);
    return false;
  }
  if (rc != 0) {
    Ready r = waitWritable(fd.get(), timeoutMs);
    if (r == Ready::Timeout) {
      lastError_.store(ETIMEDOUT, std::memory_order_release);
      return false;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err == 0 && r != Ready::Yes) err = ECONNREFUSED;
    if (err != 0) {
      lastError_.store(err, std::memory_order_release);
      return false;
    }
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  // Telegrams are a few bytes in three sends: no Nagle delay for them.
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  sock = std::move(fd);
  closing_.store(false, std::memory_order_release);
  socketThreadDone_.store(false, std::memory_order_release);
  framingThreadDone_.store(false, std::memory_order_release);
  lost_.store(false, std::memory_order_release);
  say("conexion iniciada\n");
  socketThreadHandle = std::thread(SocketThread, std::ref(*this));
  framingThreadHandle = std::thread(FramingThread, std::ref(*this));
  return true;
}

int TcpClient::send(const void* bytes, int count) {
  if (!sock.valid() || count < 0) return -1;
  for (;;) {
    ssize_t n = ::send(sock.get(), bytes, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n >= 0 || errno != EINTR) return static_cast<int>(n);
  }
}

int TcpClient::recv(std::uint8_t* buffer, int size) {
  for (;;) {
    ssize_t n = ::recv(sock.get(), buffer, static_cast<std::size_t>(size), 0);
    if (n >= 0 || errno != EINTR) return static_cast<int>(n);
  }
}

int TcpClient::hasReady() {
  std::lock_guard lock(mutex_);
  return framer_.ready() ? 1 : 0;
}

int TcpClient::readReady(std::uint8_t* destination, int wanted) {
  std::lock_guard lock(mutex_);
  return framer_.readReady(destination, wanted);
}

bool TcpClient::waitReady(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return readyWake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return framer_.ready() || framingThreadDone_.load(std::memory_order_acquire);
  }) && framer_.ready();
}

bool TcpClient::drained() {
  std::lock_guard lock(mutex_);
  return lost_.load(std::memory_order_acquire) && framingThreadDone_.load(std::memory_order_acquire) &&
         !framer_.ready();
}

void TcpClient::stopRunning() {
  {
    std::lock_guard lock(mutex_);
    closing_.store(true, std::memory_order_release);
    running_.store(false, std::memory_order_release);
  }
  framerWake_.notify_all();
  // A receiver blocked in recv cannot see the flag; shutting the read side
  // down makes the receive return.
  if (sock.valid()) ::shutdown(sock.get(), SHUT_RDWR);
}

void TcpClient::endThreads() {
  stopRunning();
  if (socketThreadHandle.joinable()) socketThreadHandle.join();
  if (framingThreadHandle.joinable()) framingThreadHandle.join();
}

bool TcpClient::close() {
  if (!sock.valid()) return false;
  endThreads();
  sock.reset();
  return true;
}

std::int64_t TcpClient::droppedMessages() const {
  std::lock_guard lock(mutex_);
  return framer_.droppedMessages();
}

std::int64_t TcpClient::droppedBytes() const {
  std::lock_guard lock(mutex_);
  return framer_.droppedBytes();
}

// Sleeps up to `ms`, waking early when the client is being closed. False if closing.
bool TcpClient::pauseUnlessClosing(int ms) {
  std::unique_lock lock(mutex_);
  return !framerWake_.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return closing_.load(std::memory_order_acquire); });
}

int SocketThread(TcpClient& c) {
  c.say("SocketThread\n");
  if (c.pauseUnlessClosing(100)) {
    {
      std::lock_guard lock(c.mutex_);
      if (!c.closing_.load(std::memory_order_acquire)) c.running_.store(true, std::memory_order_release);
    }
    c.framerWake_.notify_all();
    if (c.running() && c.pauseUnlessClosing(100)) {
      while (c.running_.load(std::memory_order_acquire)) {
        c.chunkLen = c.recv(c.recvBuf, kMaxReceive);
        if (c.chunkLen <= 0) {
          // Peer closed (0) or the socket failed (-1): the connection is gone,
          // unless the owner is closing it on purpose.
          if (!c.closing_.load(std::memory_order_acquire)) {
            c.lastError_.store(c.chunkLen == 0 ? ECONNRESET : errno, std::memory_order_release);
            c.lost_.store(true, std::memory_order_release);
          }
          break;
        }
        {
          std::lock_guard lock(c.mutex_);
          c.framer_.addChunk(c.recvBuf, c.chunkLen, processMillis());
        }
        c.framerWake_.notify_all();
      }
    }
  }
  {
    std::lock_guard lock(c.mutex_);
    c.socketThreadDone_.store(true, std::memory_order_release);
  }
  c.framerWake_.notify_all();
  c.readyWake_.notify_all();
  return 0;
}

int FramingThread(TcpClient& c) {
  std::unique_lock lock(c.mutex_);
  c.framerWake_.wait(lock, [&c] {
    return c.running_.load(std::memory_order_acquire) || c.closing_.load(std::memory_order_acquire) ||
           c.socketThreadDone_.load(std::memory_order_acquire);
  });
  if (!c.running_.load(std::memory_order_acquire)) {
    c.framingThreadDone_.store(true, std::memory_order_release);
    lock.unlock();
    c.readyWake_.notify_all();
    return 0;
  }
  lock.unlock();
  c.say("Init Wait\n");
  lock.lock();
  // Runs while the client runs, and after the receiver has ended on a lost
  // connection long enough to publish the last message it gathered.
  for (;;) {
    if (c.closing_.load(std::memory_order_acquire)) break;
    if (!c.framer_.pending()) {
      if (c.socketThreadDone_.load(std::memory_order_acquire)) break;
      c.framerWake_.wait(lock);
      continue;
    }
    if (c.framer_.publishIfDue(processMillis())) {
      c.readyWake_.notify_all();
      continue;
    }
    if (c.framer_.pending()) c.framerWake_.wait_until(lock, processTimePoint(c.framer_.dueTime()));
  }
  c.framingThreadDone_.store(true, std::memory_order_release);
  lock.unlock();
  c.readyWake_.notify_all();
  return 0;
}

void tcpEchoLoop(const char* address, std::uint16_t port, std::FILE* out, int timeoutMs) {
  TcpClient client(out);
  auto say = [out](const char* text) {
    if (out) std::fputs(text, out);
  };
  if (!client.connect(address, port)) {
    say("conexion no realizada\n");
    return;
  }
  say("conexion iniciada\n");
  char buf[kMessageCapacity];
  for (int i = 0; i < 10; ++i) {
    int n = std::snprintf(buf, sizeof buf, "socket %d\n", i);
    client.send(buf, n);
  }
  int counter = 0;
  const std::int64_t deadline = processMillis() + timeoutMs;
  while (!client.socketThreadDone() && processMillis() < deadline) {
    if (client.hasReady()) {
      int len = client.readReady(reinterpret_cast<std::uint8_t*>(buf), kMaxReceive);
      // Room is kept for the terminating zero: a message is cut to 999 bytes.
      const int kept = len < kMaxReceive ? len : kMaxReceive;
      buf[kept] = '\0';
      if (out) std::fprintf(out, "men %d: %s\n", counter, buf);
      client.send(buf, kept);
      ++counter;
    }
    if (counter > 100 && client.running()) client.stopRunning();
    client.waitReady(10);
  }
  client.close();
  say("conexion terminada\n");
  if (out) std::fflush(out);
}
