// SPDX-License-Identifier: Apache-2.0
#pragma once

// The files a run writes for its user, and the one rule for all of them: a
// failure is reported once (the first of a run of failures), and the run
// goes on. A file written whole at each scan (a picture) tries again at the
// next; a file that grows (a recording) stops, so it never holds a torn line
// in its middle.
//
// Threads: created by the main thread before the run; written by one thread
// (the one of the sink that owns it).

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

namespace app {

class FileOutput {
 public:
  // `option` names the file in messages ("--record", "--svg").
  explicit FileOutput(std::string option = "--record", std::string path = "")
      : option_(std::move(option)), path_(std::move(path)) {}
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;
  ~FileOutput();

  // A file that grows: creates `path`; an existing file is refused unless
  // `replace`. False with a one-line reason in *error.
  bool open(const std::string& path, bool replace, std::string* error);
  bool active() const { return file_ != nullptr; }
  // Appends `bytes` and flushes; false when they are not all written: then
  // it says so on `messages` and stops.
  bool write(std::string_view bytes, std::FILE* messages);
  // A file that grows stopped before the run ended (a write failed).
  bool stoppedEarly() const { return stoppedEarly_; }
  // "--record PATH stopped early: it holds N scans" when it did; "--svg
  // PATH: no picture could be written (why)" when no replace() took; else "".
  std::string shortfall(std::uint64_t scans = 0) const;

  // A file written whole: replaces it with `bytes` (see platform::replaceFile);
  // on failure the content is skipped and the next call tries again.
  void replace(std::string_view bytes, std::FILE* messages);

  const std::string& path() const { return path_; }

 private:
  void report(std::FILE* messages, const std::string& what, std::error_code ec);

  std::string option_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool failing_ = false;
  bool stoppedEarly_ = false;
  std::uint64_t replaced_ = 0;
  std::error_code lastError_;  // of the last replace()
};

// Why a path that exists and is not a regular file takes no output.
inline constexpr std::string_view kNotRegular =
    "it exists and is not a regular file (a device, a pipe or a link); name a new or regular file";

}  // namespace app
