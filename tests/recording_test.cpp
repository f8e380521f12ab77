// SPDX-License-Identifier: Apache-2.0
// Reading recordings: what is no recording is refused at once with the
// reason, and no file makes the reader take more memory than its bounds.

#include "lms/formats/recording.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "lms/formats/compression.h"
#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "lms/formats/scan_json.h"
#include "lms/protocol/reply.h"

using lms::Recording;

namespace {

// A recording as lmsview writes it: `scans` laser scans (with their raw
// words unless `raw` is false), and `noise` small messages of a channel that
// is not ours, in chunks of `compression`.
std::string recording(int scans, bool raw = true, int noise = 0, const std::string& compression = "") {
  lms::mcap::Writer w("ros2", "test", compression);
  const auto scan = w.addChannel(
      w.addSchema("sensor_msgs/msg/LaserScan", "ros2msg", lms::kLaserScanDefinition), "/scan", "cdr", {});
  const auto words =
      raw ? w.addChannel(w.addSchema("lmsview/RawScan", "jsonschema", "{}"), "/scan/raw", "json", {})
          : std::uint16_t{0};
  const auto other = w.addChannel(w.addSchema("other/Thing", "jsonschema", "{}"), "/other", "json", {});
  lmsview::Scan s;
  s.geometry = lms::replyGeometry(101);
  s.words.assign(101, 0xE000 | 1234);
  lms::setRangesFromWords(&s);
  std::string text;
  for (int i = 0; i < scans; ++i) {
    w.addMessage(scan, 1, 1, lms::laserScanCdr(lms::laserScanFields(s, "laser")));
    if (raw) {
      lms::scan_json::formatRawWords(s, &text);
      w.addMessage(words, 1, 1, text);
    }
  }
  for (int i = 0; i < noise; ++i) {
    w.addMessage(other, 2, 2, "{}");
    if (w.openChunkBytes() > (1 << 20)) w.closeChunk();
  }
  w.finish();
  return w.take();
}

// Where the first record with `op` begins in a recording's data section.
std::size_t findRecord(const std::string& file, std::uint8_t op) {
  for (std::size_t at = 8; at + 9 <= file.size();) {
    if (static_cast<std::uint8_t>(file[at]) == op) return at;
    std::uint64_t length = 0;
    std::memcpy(&length, file.data() + at + 1, 8);
    at += 9 + length;
  }
  return std::string::npos;
}

void setU64(std::string& file, std::size_t at, std::uint64_t v) {
  std::memcpy(file.data() + at, &v, 8);
}

// A recording's scans, read as a file: the reason when it is refused, else "".
std::string load(const std::string& bytes, Recording* r, std::string* notice = nullptr,
                 const std::string& topic = "") {
  // ctest runs each case as its own process, side by side: one file each.
  const std::string path = testing::TempDir() + "recording_test_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + ".mcap";
  std::ofstream(path, std::ios::binary) << bytes;
  std::string error;
  const bool ok = r->load(path, &error, notice, topic);
  ::unlink(path.c_str());
  return ok ? "" : error;
}

// What a recording holds is read chunk by chunk: messages that are not
// scans are skipped, chunks that claim more than a recording of scans holds
// are refused before anything is unpacked, and a damaged data section is
// refused by its CRC when the file is whole.
TEST(Recording, McapRecordingsAreReadWithinTheirBoundsAndChecked) {
  Recording plain;
  EXPECT_EQ(load(recording(3, true, 200000), &plain), "");
  EXPECT_EQ(plain.size(), 3u);
  EXPECT_EQ(plain.scan(0)[0], 0xE000 | 1234);  // the raw words, flag bits kept
  EXPECT_FALSE(plain.wordsRebuilt());

  Recording rebuilt;
  std::string notice;
  EXPECT_EQ(load(recording(2, false), &rebuilt, &notice), "");
  EXPECT_TRUE(rebuilt.wordsRebuilt());
  EXPECT_EQ(rebuilt.scan(0)[0], 1234);  // made from the range: no flag bits
  EXPECT_NE(notice.find("no raw words"), std::string::npos) << notice;

  // The bound on scans holds while reading: one more than it is refused.
  lms::mcap::Writer w("ros2", "test");
  const auto raw = w.addChannel(w.addSchema("lmsview/RawScan", "jsonschema", "{}"), "/scan/raw", "json", {});
  for (int i = 0; i <= 65536; ++i) {
    w.addMessage(raw, 1, 1, "{\"words\":[1]}");
    if (w.openChunkBytes() > (1 << 20)) w.closeChunk();
  }
  w.finish();
  Recording many;
  EXPECT_NE(load(w.take(), &many).find("more than 65536 scans"), std::string::npos);

  for (const std::string& compression : {std::string(), std::string("zstd")}) {
    if (compression == "zstd" && !lms::zstdAvailable()) continue;
    std::string bomb = recording(2, true, 0, compression);
    const std::size_t chunk = findRecord(bomb, 0x06);
    ASSERT_NE(chunk, std::string::npos);
    setU64(bomb, chunk + 9 + 16, std::uint64_t{1} << 30);  // the chunk's uncompressed size
    Recording r;
    EXPECT_NE(load(bomb, &r).find("more than a recording of scans holds"), std::string::npos) << compression;
  }

  std::string damaged = recording(2);
  const std::size_t schema = findRecord(damaged, 0x03);
  damaged[schema + 20] ^= 0x04;  // one bit of the first schema's name
  Recording r;
  EXPECT_NE(load(damaged, &r).find("CRC does not match"), std::string::npos);
}

// What a reader keeps of a file's names is bounded; a recording of several
// scanners is never played as one stream, but one of them may be named; a
// recording cut before its first scan says it was cut.
TEST(Recording, NamesAreBoundedScannersApartAndACutIsSaid) {
  for (const auto& [length, count] : {std::pair{5000, 1}, std::pair{4000, 400}}) {
    lms::mcap::Writer w("ros2", "test", lms::zstdAvailable() ? "zstd" : "");
    const auto schema = w.addSchema("other/Thing", "jsonschema", "{}");
    for (int i = 0; i < count; ++i)
      w.addChannel(schema, "/" + std::string(length, 'a') + std::to_string(i), "json", {});
    w.finish();
    Recording r;
    const std::string why = load(w.take(), &r);
    EXPECT_NE(why.find(count == 1 ? "channel topic of 5002 bytes" : "more channels and schemas"),
              std::string::npos)
        << why;
  }

  lms::mcap::Writer w("ros2", "test");
  const auto laserScan = w.addSchema("sensor_msgs/msg/LaserScan", "ros2msg", lms::kLaserScanDefinition);
  const auto rawScan = w.addSchema("lmsview/RawScan", "jsonschema", "{}");
  std::string text;
  for (const auto& [topic, word] : {std::pair{"/front/scan", 1111}, std::pair{"/rear/scan", 2222}}) {
    const auto scans = w.addChannel(laserScan, topic, "cdr", {});
    const auto raw = w.addChannel(rawScan, std::string(topic) + "/raw", "json", {});
    lmsview::Scan s;
    s.geometry = lms::replyGeometry(101);
    s.words.assign(101, static_cast<std::uint16_t>(word));
    lms::setRangesFromWords(&s);
    w.addMessage(scans, 1, 1, lms::laserScanCdr(lms::laserScanFields(s, "laser")));
    lms::scan_json::formatRawWords(s, &text);
    w.addMessage(raw, 1, 1, text);
  }
  w.finish();
  const std::string two = w.take();
  Recording both, rear;
  EXPECT_NE(
      load(two, &both).find("topics /front/scan, /rear/scan): name one, as file:PATH?topic=/front/scan"),
      std::string::npos);
  EXPECT_EQ(load(two, &rear, nullptr, "/rear/scan"), "");
  ASSERT_EQ(rear.size(), 1u);
  EXPECT_EQ(rear.scan(0)[0], 2222);
  Recording none;
  EXPECT_NE(load(two, &none, nullptr, "/side/scan").find("no laser scan on topic /side/scan"),
            std::string::npos);

  const std::string whole = recording(2);
  const std::size_t chunk = findRecord(whole, 0x06);
  Recording cut;
  const std::string why = load(whole.substr(0, chunk + 40), &cut);
  EXPECT_NE(why.find("cut short"), std::string::npos) << why;
  EXPECT_NE(why.find("before its first scan"), std::string::npos) << why;
  Recording partly;
  EXPECT_EQ(load(whole.substr(0, findRecord(whole, 0x0F) - 3), &partly), "");
  EXPECT_NE(partly.cut().find("it holds 2 scans"), std::string::npos) << partly.cut();
}

// What cannot be replayed is refused at once, with the reason: a file with
// no end of line, an empty one, and what is not a regular file (a FIFO
// with no writer would otherwise hold the open for ever).
TEST(Recording, WhatIsNoRecordingIsRefusedAtOnceWithTheReason) {
  const std::string dir = testing::TempDir();
  const std::string longLine = dir + "replay_long_line", empty = dir + "replay_empty",
                    fifo = dir + "replay_fifo";
  {
    std::ofstream(longLine) << std::string(70000, '1');
    std::ofstream{empty};
  }
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* why;
  } cases[] = {{longLine, "line longer than 65536 bytes"},
               {empty, "holds no scan"},
               {fifo, "is not a regular file"},
               {"/dev/zero", "is not a regular file"},
               {"/", "is a folder"},
               {"/nonexistent/replay.txt", "No such file or directory"}};
  for (const auto& c : cases) {
    Recording r;
    std::string error;
    EXPECT_FALSE(r.load(c.path, &error)) << c.path;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.path << ": " << error;
  }
  for (const std::string& p : {longLine, empty, fifo}) ::unlink(p.c_str());
}

}  // namespace
