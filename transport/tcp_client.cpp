// SPDX-License-Identifier: Apache-2.0
#include "transport/tcp_client.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/clock.h"

namespace transport {

using platform::processMillis;

TcpClient::TcpClient(MessageSink out) : out_(std::move(out)) {}

TcpClient::~TcpClient() {
  close();
}

void TcpClient::say(std::string_view text) {
  if (out_) out_(text);
}

void TcpClient::setLastError(std::error_code ec) {
  std::lock_guard lock(mutex_);
  lastError_ = ec;
}

std::error_code TcpClient::lastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void TcpClient::setMessageCheck(MessageCheck check) {
  std::lock_guard lock(mutex_);
  framer_.setMessageCheck(check);
}

bool TcpClient::connect(const char* address, std::uint16_t port, int timeoutMs) {
  if (socket_.valid()) return false;
  if (const std::error_code ec = socket_.connect(address, port, timeoutMs)) {
    setLastError(ec);
    return false;
  }
  closing_.store(false, std::memory_order_release);
  socketThreadDone_.store(false, std::memory_order_release);
  framingThreadDone_.store(false, std::memory_order_release);
  lost_.store(false, std::memory_order_release);
  closedByPeer_.store(false, std::memory_order_release);
  {
    std::lock_guard lock(mutex_);
    receiving_ = false;
    rawBytes_.clear();
    rawChunks_.clear();
    rawHead_ = rawChunkHead_ = 0;
  }
  say("conexion iniciada\n");
  socketThread_ = std::thread(SocketThread, std::ref(*this));
  framingThread_ = std::thread(FramingThread, std::ref(*this));
  return true;
}

int TcpClient::send(const void* bytes, int count, bool more) {
  return socket_.send(bytes, count, more);
}

void TcpClient::setRawStream() {
  std::lock_guard lock(mutex_);
  if (raw_) return;
  raw_ = true;
  std::uint8_t bytes[kMessageCapacity];
  std::int64_t arrivals[2] = {};
  while (framer_.ready()) {
    const int n = std::min(framer_.readReady(bytes, kMessageCapacity, arrivals), kMessageCapacity);
    addRaw(bytes, n, arrivals[0]);
  }
  addRaw(bytes, framer_.takeGathered(bytes, kMessageCapacity), platform::wallClockNanos());
}

bool TcpClient::ready() const {
  return raw_ ? rawHead_ < rawBytes_.size() : framer_.ready();
}

int TcpClient::hasReady() {
  std::lock_guard lock(mutex_);
  return ready() ? 1 : 0;
}

int TcpClient::readReady(std::uint8_t* destination, int wanted) {
  std::lock_guard lock(mutex_);
  if (!raw_) return framer_.readReady(destination, wanted, lastArrivals_);
  if (rawChunkHead_ == rawChunks_.size() || wanted <= 0) return 0;
  auto& [length, arrival] = rawChunks_[rawChunkHead_];
  const int n = std::min(wanted, length);
  std::copy_n(rawBytes_.begin() + static_cast<std::ptrdiff_t>(rawHead_), n, destination);
  lastArrivals_[0] = lastArrivals_[1] = arrival;
  rawHead_ += static_cast<std::size_t>(n);
  length -= n;
  if (length == 0) ++rawChunkHead_;
  if (rawChunkHead_ == rawChunks_.size()) {
    rawBytes_.clear();
    rawChunks_.clear();
    rawHead_ = rawChunkHead_ = 0;
  }
  return n;
}

void TcpClient::addRaw(const std::uint8_t* bytes, int n, std::int64_t arrivalNs) {
  // What the reader has not taken is kept whole; what does not fit is dropped.
  if (rawHead_ > kRawCapacity / 2) {
    rawBytes_.erase(rawBytes_.begin(), rawBytes_.begin() + static_cast<std::ptrdiff_t>(rawHead_));
    rawChunks_.erase(rawChunks_.begin(), rawChunks_.begin() + static_cast<std::ptrdiff_t>(rawChunkHead_));
    rawHead_ = rawChunkHead_ = 0;
  }
  const int room = static_cast<int>(kRawCapacity - (rawBytes_.size() - rawHead_));
  const int taken = std::clamp(n, 0, room);
  rawDropped_ += n - taken;
  if (taken == 0) return;
  rawBytes_.insert(rawBytes_.end(), bytes, bytes + taken);
  rawChunks_.emplace_back(taken, arrivalNs);
}

bool TcpClient::waitReady(int timeoutMs, const std::atomic<bool>* stop) {
  std::unique_lock lock(mutex_);
  return readyWake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this, stop] {
    return ready() || framingThreadDone_.load(std::memory_order_acquire) ||
           (stop && stop->load(std::memory_order_acquire));
  }) && ready();
}

bool TcpClient::waitReceiving(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return readyWake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return receiving_ || socketThreadDone_.load(std::memory_order_acquire);
  }) && receiving_;
}

void TcpClient::wakeWaiters() {
  // Under the lock: a waiter either saw the flag raised before this or is
  // already waiting when the notice comes.
  std::lock_guard lock(mutex_);
  readyWake_.notify_all();
}

bool TcpClient::drained() {
  std::lock_guard lock(mutex_);
  return lost_.load(std::memory_order_acquire) && framingThreadDone_.load(std::memory_order_acquire) &&
         !ready();
}

void TcpClient::stopRunning() {
  {
    std::lock_guard lock(mutex_);
    closing_.store(true, std::memory_order_release);
    running_.store(false, std::memory_order_release);
  }
  framerWake_.notify_all();
  socket_.interrupt();
}

void TcpClient::endThreads() {
  stopRunning();
  if (socketThread_.joinable()) socketThread_.join();
  if (framingThread_.joinable()) framingThread_.join();
}

bool TcpClient::close() {
  if (!socket_.valid()) return false;
  endThreads();
  socket_.close();
  return true;
}

bool TcpClient::gathering() const {
  std::lock_guard lock(mutex_);
  return framer_.pending();
}

std::int64_t TcpClient::droppedMessages() const {
  std::lock_guard lock(mutex_);
  return framer_.droppedMessages();
}

std::int64_t TcpClient::droppedBytes() const {
  std::lock_guard lock(mutex_);
  return framer_.droppedBytes() + rawDropped_;
}

// Sleeps up to `ms`, waking early when the client is being closed. False if closing.
bool TcpClient::pauseUnlessClosing(int ms) {
  std::unique_lock lock(mutex_);
  return !framerWake_.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return closing_.load(std::memory_order_acquire); });
}

int SocketThread(TcpClient& c) {
  c.say("SocketThread\n");
  bool raw = false;
  {
    std::lock_guard lock(c.mutex_);
    raw = c.raw_;
  }
  const int startPauseMs = raw ? 0 : c.startPauseMs_;
  // Two pauses of 100 ms, the client's start-up timing: the framing thread
  // is started and waiting before `running` is raised, and the owner's first
  // telegram goes out before the receiver blocks, so the first chunk always
  // begins a message. A close ends either pause at once.
  if (c.pauseUnlessClosing(startPauseMs)) {
    {
      std::lock_guard lock(c.mutex_);
      if (!c.closing_.load(std::memory_order_acquire)) c.running_.store(true, std::memory_order_release);
    }
    c.framerWake_.notify_all();
    if (c.running() && c.pauseUnlessClosing(startPauseMs)) {
      {
        std::lock_guard lock(c.mutex_);
        c.receiving_ = true;
      }
      c.readyWake_.notify_all();
      while (c.running_.load(std::memory_order_acquire)) {
        std::error_code ec;
        const int n = c.socket_.receive(c.recvBuf_, kMaxReceive, &ec);
        if (n <= 0) {
          // Peer closed (0) or the socket failed (-1): the connection is gone,
          // unless the owner is closing it on purpose.
          if (!c.closing_.load(std::memory_order_acquire)) {
            if (n == 0)
              c.closedByPeer_.store(true, std::memory_order_release);
            else
              c.setLastError(ec);
            c.lost_.store(true, std::memory_order_release);
          }
          break;
        }
        int published = 0;
        bool pending = false;
        {
          std::lock_guard lock(c.mutex_);
          if (c.raw_) {
            c.addRaw(c.recvBuf_, n, platform::wallClockNanos());
            published = 1;
          } else {
            published = c.framer_.addChunk(c.recvBuf_, n, processMillis(), platform::wallClockNanos());
            pending = c.framer_.pending();
          }
        }
        // The framer waits for silence only behind bytes no whole message
        // took: a reply that is whole at its last byte does not wake it.
        if (pending) c.framerWake_.notify_all();
        if (published > 0) c.readyWake_.notify_all();
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
    if (c.framer_.pending()) c.framerWake_.wait_until(lock, platform::processTimePoint(c.framer_.dueTime()));
  }
  c.framingThreadDone_.store(true, std::memory_order_release);
  lock.unlock();
  c.readyWake_.notify_all();
  return 0;
}

void tcpEchoLoop(const char* address, std::uint16_t port, const MessageSink& out, int timeoutMs) {
  TcpClient client(out);
  auto say = [&out](std::string_view text) {
    if (out) out(text);
  };
  if (!client.connect(address, port)) {
    say("conexion no realizada\n");
    return;
  }
  say("conexion iniciada\n");
  char buf[kMessageCapacity];
  for (int i = 0; i < 10; ++i) {
    const int n = std::snprintf(buf, sizeof buf, "socket %d\n", i);
    client.send(buf, n);
  }
  int counter = 0;
  const std::int64_t deadline = processMillis() + timeoutMs;
  std::string line;
  while (!client.socketThreadDone() && processMillis() < deadline) {
    if (client.hasReady()) {
      const int len = client.readReady(reinterpret_cast<std::uint8_t*>(buf), kMaxReceive);
      // Room is kept for the terminating zero: a message is cut to 999 bytes,
      // and shown up to its first zero byte, as text.
      const int kept = len < kMaxReceive ? len : kMaxReceive;
      buf[kept] = '\0';
      line = "men " + std::to_string(counter) + ": " + std::string(buf) + "\n";
      say(line);
      client.send(buf, kept);
      ++counter;
    }
    if (counter > 100 && client.running()) client.stopRunning();
    client.waitReady(10);
  }
  client.close();
  say("conexion terminada\n");
}

}  // namespace transport
