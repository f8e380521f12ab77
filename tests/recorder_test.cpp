#include "app/outputs/file_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  FileOutput r;
  std::string error;
  ASSERT_TRUE(r.open("/dev/full", true, &error)) << error;
  Captured messages;
  for (int i = 0; i < 3; ++i) r.write(std::string(100, 'x') + "\n", messages.file);
  EXPECT_FALSE(r.active());
  EXPECT_EQ(messages.str(), "lmsview: recording to /dev/full stopped: No space left on device\n");
  FileOutput none;
  EXPECT_FALSE(none.open("/nonexistent-dir/scans.jsonl", false, &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
