// SPDX-License-Identifier: Apache-2.0
#pragma once

// MCAP recordings, written and read record by record as the published MCAP
// format lays them out (version 0 of the format's records, little-endian):
//
//   magic, Header (0x01), then the data section: Schema (0x03) and Channel
//   (0x04) records, Chunks (0x06, uncompressed) each followed by one Message
//   Index (0x07) per channel, and Data End (0x0F) with the CRC-32 of every
//   byte before it; then the summary section: the Schemas and Channels
//   again, Statistics (0x0B) and one Chunk Index (0x08) per chunk; the
//   Summary Offset records (0x0E), one per group of the summary; the Footer
//   (0x02) with the CRC-32 of the summary; the magic again.
//
// A writer hands out bytes as records close, so a file cut short (a killed
// run) still holds every chunk finished before the cut.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lms::mcap {

inline constexpr std::string_view kMagic{"\x89MCAP0\r\n", 8};

// CRC-32 as zlib computes it (polynomial 0xEDB88320, initial and final value
// inverted); `crc` is an earlier result, so a CRC can be taken in pieces.
std::uint32_t crc32(std::string_view bytes, std::uint32_t crc = 0);

class Writer {
 public:
  // `profile` names the conventions ("ros2"); `library` the writer;
  // `compression` the chunks' ("" or "zstd", where zstdAvailable()).
  Writer(std::string_view profile, std::string_view library, std::string compression = "");

  std::uint16_t addSchema(std::string_view name, std::string_view encoding, std::string_view data);
  std::uint16_t addChannel(std::uint16_t schema, std::string_view topic, std::string_view messageEncoding,
                           const std::vector<std::pair<std::string, std::string>>& metadata);
  // A message into the open chunk (times in ns since the epoch).
  void addMessage(std::uint16_t channel, std::uint64_t logTime, std::uint64_t publishTime,
                  std::string_view data);
  // Closes the open chunk (with its message indexes), if it holds a message.
  void closeChunk();
  std::size_t openChunkBytes() const { return chunk_.size(); }
  // Closes the last chunk and writes Data End, the summary and the footer.
  void finish();

  // The bytes produced since the last call: the caller writes them out, in order.
  std::string take() { return std::exchange(out_, {}); }

 private:
  void emit(const std::string& record);

  std::string out_;
  std::string compression_;
  std::string packed_;        // a compressed chunk's records
  std::uint64_t offset_ = 0;  // bytes produced so far: where the next record starts
  std::uint32_t dataCrc_ = 0;
  bool finished_ = false;

  std::vector<std::string> schemas_;  // the records, repeated in the summary
  std::vector<std::string> channels_;
  std::vector<std::string> chunkIndexes_;
  std::uint16_t nextSchema_ = 1;
  std::uint16_t nextChannel_ = 0;

  // The open chunk: its records, their times, and per channel the (log
  // time, offset in the chunk) of each message.
  std::string chunk_;
  std::uint64_t chunkStart_ = 0, chunkEnd_ = 0;
  std::map<std::uint16_t, std::vector<std::pair<std::uint64_t, std::uint64_t>>> chunkMessages_;
  std::map<std::uint16_t, std::uint32_t> sequence_;

  // Statistics.
  std::uint64_t messageCount_ = 0;
  std::uint32_t chunkCount_ = 0;
  std::uint64_t firstTime_ = 0, lastTime_ = 0;
  std::map<std::uint16_t, std::uint64_t> perChannel_;
};

// Bounds on what a reader takes into memory at once: a record, or a chunk's
// records compressed and uncompressed (a writer of this format closes its
// chunks at a megabyte). Larger is refused, so no file makes a reader
// allocate more.
inline constexpr std::uint64_t kMaxRecordBytes = 16u << 20;

// A channel as a reader finds it, and one message of it.
struct ChannelInfo {
  std::uint16_t id = 0;
  std::string_view topic;
  std::string_view schemaName;
  std::string_view messageEncoding;
};
struct MessageView {
  const ChannelInfo* channel = nullptr;
  std::uint64_t logTime = 0;
  std::string_view data;
};

// How reading a recording went.
struct ReadResult {
  bool ok = false;        // false: not an MCAP file, or a record that does not parse or check
  bool cutShort = false;  // the file ends inside a record: what came before stands
  std::string why;        // one line, when !ok or cutShort
};

// Reads a recording's data section record by record from `read` (at most n
// bytes a call; 0 at the end, -1 on an error), chunk by chunk, checking each
// chunk's CRC and, when the file is whole, the data section's CRC in Data
// End. `onMessage` sees the messages of the channels `wanted` takes (the
// others are skipped, not kept) and may end the reading by returning false
// with a reason in *why. The summary is not needed, so a file cut short
// gives what it holds.
ReadResult readRecording(const std::function<long long(char*, std::size_t)>& read,
                         const std::function<bool(const ChannelInfo&)>& wanted,
                         const std::function<bool(const MessageView&, std::string* why)>& onMessage);

// A `read` for readRecording over bytes in memory (kept by the caller).
std::function<long long(char*, std::size_t)> readFrom(std::string_view bytes);

// One message as a reader finds it, kept.
struct Message {
  std::string topic;
  std::string schemaName;
  std::string messageEncoding;
  std::uint64_t logTime = 0;
  std::string data;
};

// Every message of a recording in memory, in file order (see readRecording).
// False, with a one-line reason in *why, for what is not an MCAP file or a
// record that does not parse; *messages holds what came before. A file cut
// short is true, with the reason in *why.
bool readMessages(std::string_view file, std::vector<Message>* messages, std::string* why);

}  // namespace lms::mcap
