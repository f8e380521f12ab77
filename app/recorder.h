#pragma once

// --record: every scan shown is appended to a file as one JSON line, flushed
// at once, so a crash loses at most the line being written. A write error is
// reported once and recording stops; the run goes on.
//
// Threads: opened by the main thread before the run; written by the
// acquisition thread only.

#include <cstdio>
#include <string>

namespace app {

class Recorder {
 public:
  Recorder() = default;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder();

  // Creates `path`; an existing file is refused unless `replace`. False with
  // a one-line reason in *error.
  bool open(const std::string& path, bool replace, std::string* error);
  bool active() const { return file_ != nullptr; }
  // Appends one line; on failure says so once on `messages` and stops.
  void write(const std::string& line, std::FILE* messages);

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace app
