#pragma once

// Runs a program as a child process with its standard input, output and error
// on pipes; collects the output while it runs; every wait is bounded. The
// child's own CPU accounting is read when it ends (wait4).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls until exec.
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    reader_ = std::thread([this, o = out[0], e = err[0]] { collect(o, e); });
    started_ = std::chrono::steady_clock::now();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (!exited_ && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait(5000);
    }
    closeStdin();
    if (reader_.joinable()) reader_.join();
  }

  bool started() const { return pid_ > 0; }
  void pressKey() { write("k"); }
  void write(const std::string& s) {
    if (stdin_ >= 0) [[maybe_unused]]
      auto n = ::write(stdin_, s.data(), s.size());
  }
  void closeStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  void signal(int sig) {
    if (pid_ > 0 && !exited_) ::kill(pid_, sig);
  }

  // Waits up to `timeoutMs` for the child to end; true if it did.
  bool wait(int timeoutMs) {
    if (exited_) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      rusage ru{};
      pid_t r = ::wait4(pid_, &status, WNOHANG, &ru);
      if (r == pid_) {
        exited_ = true;
        status_ = status;
        cpuSeconds_ = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                      static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        voluntarySwitches_ = ru.ru_nvcsw;
        involuntarySwitches_ = ru.ru_nivcsw;
        maxRssKb_ = ru.ru_maxrss;
        ended_ = std::chrono::steady_clock::now();
        if (reader_.joinable()) reader_.join();
        return true;
      }
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Waits until the output contains `text`, at most `timeoutMs`.
  bool waitForOutput(const std::string& text, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      if (out().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out().find(text) != std::string::npos;
  }

  int exitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_); }
  bool exitedNormally() const { return WIFEXITED(status_); }
  std::string out() const {
    std::lock_guard lock(mutex_);
    return out_;
  }
  std::string err() const {
    std::lock_guard lock(mutex_);
    return err_;
  }
  double cpuSeconds() const { return cpuSeconds_; }
  long voluntarySwitches() const { return voluntarySwitches_; }
  long involuntarySwitches() const { return involuntarySwitches_; }
  long maxRssKb() const { return maxRssKb_; }
  double lifetimeSeconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }

 private:
  void collect(int o, int e) {
    pollfd fds[2] = {{o, POLLIN, 0}, {e, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
      if (::poll(fds, 2, 1000) < 0) break;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buf[8192];
        ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
          continue;
        }
        std::lock_guard lock(mutex_);
        (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string out_, err_;
  bool exited_ = false;
  int status_ = 0;
  double cpuSeconds_ = 0;
  long voluntarySwitches_ = 0, involuntarySwitches_ = 0, maxRssKb_ = 0;
  std::chrono::steady_clock::time_point started_, ended_;
};
