// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/file_output.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "captured_output.h"

using namespace app;

namespace {

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TempPath {
  TempPath() {
    char name[] = "/tmp/recorder-test-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    path = name;
    std::remove(path.c_str());
  }
  ~TempPath() { std::remove(path.c_str()); }
  std::string path;
};

TEST(Recorder, WritesEachLineAtOnceAndKeepsAnExistingFileUnlessTold) {
  TempPath t;
  Captured messages;
  {
    FileOutput r;
    std::string error;
    ASSERT_TRUE(r.open(t.path, false, &error)) << error;
    r.write("{\"seq\":0}\n", messages.file);
    EXPECT_EQ(fileText(t.path), "{\"seq\":0}\n");  // flushed before the next scan comes
    r.write("{\"seq\":1}\n", messages.file);
  }
  EXPECT_EQ(fileText(t.path), "{\"seq\":0}\n{\"seq\":1}\n");
  FileOutput again;
  std::string error;
  EXPECT_FALSE(again.open(t.path, false, &error));
  EXPECT_NE(error.find("exists (add --force"), std::string::npos) << error;
  EXPECT_EQ(fileText(t.path), "{\"seq\":0}\n{\"seq\":1}\n");  // untouched
  ASSERT_TRUE(again.open(t.path, true, &error)) << error;
  again.write("x\n", messages.file);
  EXPECT_EQ(fileText(t.path), "x\n");
  EXPECT_EQ(messages.str(), "");
}

TEST(Recorder, AWriteErrorIsSaidOnceAndRecordingStops) {
  TempPath t;
  FileOutput r;
  std::string error;
  ASSERT_TRUE(r.open(t.path, true, &error)) << error;
  Captured messages;
  // A file that cannot grow past 150 bytes, as a full disk would stop it.
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 150;
  ::setrlimit(RLIMIT_FSIZE, &small);
  bool written[3];
  for (bool& w : written) w = r.write(std::string(99, 'x') + "\n", messages.file);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(written[0]);
  EXPECT_FALSE(written[1]);
  EXPECT_FALSE(r.active());
  EXPECT_TRUE(r.stoppedEarly());
  EXPECT_EQ(messages.str(), "lmsview: recording to " + t.path + " stopped: File too large\n");
  // What is no file for a recording is refused at the start.
  for (const char* path : {"/nonexistent-dir/scans.jsonl", "/dev/full"}) {
    FileOutput none;
    EXPECT_FALSE(none.open(path, true, &error));
    EXPECT_NE(
        error.find(std::string(path) == "/dev/full" ? "not a regular file" : "No such file or directory"),
        std::string::npos)
        << error;
  }
}

}  // namespace
