// The plainest reader that does the same job, for the benchmarks' ratios: one
// thread, blocking reads, no framing by silence, printf for every row. It polls
// N scans at the same one-second pace and ends.
//   baseline_reader IP <address> <scans> | baseline_reader COM <device> <scans>

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

}  // namespace

int main(int argc, char** argv) {
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
