// SPDX-License-Identifier: Apache-2.0
// The plainest reader that does the same job, for the benchmarks' ratios: one
// thread, blocking reads, no framing by silence, printf for every row. It polls
// N scans at the same one-second pace and ends. STREAM: the scanner's
// continuous output on a serial line at BAUD (38400 or 500000), framed by
// start, length and checksum, one line a scan (its number and the monotonic
// time it was whole), then the stream's end.
//   baseline_reader IP <address> <scans> | baseline_reader COM <device> <scans>
//   baseline_reader STREAM <device> <scans> <baud>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

namespace {

bool readExactly(int fd, std::uint8_t* p, int n) {
  int got = 0;
  while (got < n) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 3000) != 1) return false;
    ssize_t r = ::read(fd, p + got, static_cast<std::size_t>(n - got));
    if (r <= 0) return false;
    got += static_cast<int>(r);
  }
  return true;
}

std::uint16_t crc16(const std::uint8_t* data, int length) {
  std::uint16_t reg = 0;
  std::uint8_t prev = 0, cur = 0;
  for (int i = 0; i < length; ++i) {
    prev = cur;
    cur = data[i];
    reg = static_cast<std::uint16_t>((reg & 0x8000) ? ((reg & 0x7FFF) << 1) ^ 0x8005 : reg << 1);
    reg = static_cast<std::uint16_t>(reg ^ ((prev << 8) | cur));
  }
  return reg;
}

int stream(const char* device, int scans, int baud) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, baud == 500000 ? B500000 : B38400);
  ::tcsetattr(fd, TCSANOW, &t);
  const std::uint8_t start[] = {0x02, 0x00, 0x02, 0x00, 0x20, 0x24, 0x34, 0x08};
  const std::uint8_t stop[] = {0x02, 0x00, 0x02, 0x00, 0x20, 0x25, 0x35, 0x08};
  if (::write(fd, start, sizeof start) != static_cast<ssize_t>(sizeof start)) return 1;
  std::uint8_t buf[8192];
  int have = 0;
  float ranges[401];
  for (int n = 0; n < scans;) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 3000) != 1) return 1;
    const ssize_t r = ::read(fd, buf + have, sizeof buf - static_cast<std::size_t>(have));
    if (r <= 0) return 1;
    have += static_cast<int>(r);
    int at = 0;
    while (have - at >= 4) {
      if (buf[at] != 0x02 || buf[at + 1] != 0x80) {
        ++at;
        continue;
      }
      const int whole = (buf[at + 2] | (buf[at + 3] << 8)) + 6;
      if (whole > 812) {
        ++at;
        continue;
      }
      if (have - at < whole) break;
      if (crc16(buf + at, whole - 2) != (buf[at + whole - 2] | (buf[at + whole - 1] << 8))) {
        ++at;
        continue;
      }
      if (buf[at + 4] == 0xB0) {
        const int points = (whole - 10) / 2;
        for (int i = 0; i < points; ++i)
          ranges[i] = static_cast<float>((buf[at + 7 + 2 * i] + 256 * (buf[at + 8 + 2 * i] & 0x1F)) / 1000.0);
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("%d %lld %.3f\n", n, static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                    static_cast<double>(ranges[points / 2]));
        std::fflush(stdout);
        ++n;
      }
      at += whole;
    }
    std::memmove(buf, buf + at, static_cast<std::size_t>(have - at));
    have -= at;
  }
  if (::write(fd, stop, sizeof stop) != static_cast<ssize_t>(sizeof stop)) return 1;
  ::close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "STREAM") == 0)
    return stream(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc != 4) {
    std::fprintf(stderr, "usage: baseline_reader IP <address> <scans> | COM <device> <scans>\n");
    return 2;
  }
  int fd = -1;
  if (std::strcmp(argv[1], "IP") == 0) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(10002);
    if (::inet_pton(AF_INET, argv[2], &a.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      std::perror("connect");
      return 1;
    }
  } else {
    fd = ::open(argv[2], O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  const int scans = std::atoi(argv[3]);
  const std::uint8_t request[] = {0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18};
  std::uint8_t reply[733];
  for (int n = 0; n < scans; ++n) {
    const auto start = std::chrono::steady_clock::now();
    if (::write(fd, request, sizeof request) != static_cast<ssize_t>(sizeof request)) return 1;
    if (!readExactly(fd, reply, 733) || reply[0] != 0x06) return 1;
    std::printf("muestra: %d\n[ punto , Angulo [grad], Radio [cm] ]\n\n", n);
    for (int i = 0; i < 361; ++i) {
      const int raw = reply[8 + 2 * i] + 256 * (reply[9 + 2 * i] & 0x1F);
      std::printf("%d %2.2f %2.2f\n", i,
                  static_cast<double>(static_cast<float>(i * 0.5 * 3.141592653589793 / 180)) * 180 /
                      3.141592653589793,
                  static_cast<double>(static_cast<float>(raw / 10.0)));
    }
    std::printf("\n");
    std::fflush(stdout);
    std::this_thread::sleep_until(start + std::chrono::milliseconds(1000));
  }
  ::close(fd);
  return 0;
}
