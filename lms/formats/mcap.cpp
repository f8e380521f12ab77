// SPDX-License-Identifier: Apache-2.0
#include "lms/formats/mcap.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "lms/formats/compression.h"

namespace lms::mcap {

namespace {

enum Op : std::uint8_t {
  kHeader = 0x01,
  kFooter = 0x02,
  kSchema = 0x03,
  kChannel = 0x04,
  kMessage = 0x05,
  kChunk = 0x06,
  kMessageIndex = 0x07,
  kChunkIndex = 0x08,
  kStatistics = 0x0B,
  kSummaryOffset = 0x0E,
  kDataEnd = 0x0F,
};

// CRC-32 tables for eight bytes a step: table k gives a byte's effect k
// bytes before the end of the step (a recording checksums every byte twice,
// in its chunk and in the data section, so a byte a step is too slow).
constexpr std::array<std::array<std::uint32_t, 256>, 8> kCrcTables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}();

// Little-endian fields, as every MCAP record holds them.
template <class T>
void put(std::string& out, T v) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void putString(std::string& out, std::string_view s) {
  put<std::uint32_t>(out, static_cast<std::uint32_t>(s.size()));
  out += s;
}
std::string record(std::uint8_t op, std::string_view content) {
  std::string r;
  r.reserve(9 + content.size());
  r.push_back(static_cast<char>(op));
  put<std::uint64_t>(r, content.size());
  r += content;
  return r;
}

// Reads fields from a record's content; any read past the end makes it bad.
struct Cursor {
  std::string_view rest;
  bool ok = true;
  template <class T>
  T get() {
    if (rest.size() < sizeof(T)) {
      ok = false;
      rest = {};
      return 0;
    }
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      v = static_cast<T>(v | static_cast<T>(static_cast<std::uint8_t>(rest[i])) << (8 * i));
    rest.remove_prefix(sizeof(T));
    return v;
  }
  std::string_view bytes(std::uint64_t n) {
    if (rest.size() < n) {
      ok = false;
      rest = {};
      return {};
    }
    const std::string_view b = rest.substr(0, static_cast<std::size_t>(n));
    rest.remove_prefix(static_cast<std::size_t>(n));
    return b;
  }
  std::string_view string() { return bytes(get<std::uint32_t>()); }
};

}  // namespace

std::uint32_t crc32(std::string_view bytes, std::uint32_t crc) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t n = bytes.size();
  crc = ~crc;
  const auto& t = kCrcTables;
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint32_t lo =
        crc ^ (p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; ++p, --n) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

Writer::Writer(std::string_view profile, std::string_view library, std::string compression)
    : compression_(std::move(compression)) {
  out_ = kMagic;
  offset_ = kMagic.size();
  dataCrc_ = crc32(kMagic);
  std::string header;
  putString(header, profile);
  putString(header, library);
  emit(record(kHeader, header));
}

void Writer::emit(const std::string& r) {
  // Every byte up to Data End counts in the data section's CRC.
  if (!finished_) dataCrc_ = crc32(r, dataCrc_);
  offset_ += r.size();
  out_ += r;
}

std::uint16_t Writer::addSchema(std::string_view name, std::string_view encoding, std::string_view data) {
  const std::uint16_t id = nextSchema_++;  // 0 means "no schema" in a channel
  std::string s;
  put<std::uint16_t>(s, id);
  putString(s, name);
  putString(s, encoding);
  putString(s, data);
  schemas_.push_back(record(kSchema, s));
  emit(schemas_.back());
  return id;
}

std::uint16_t Writer::addChannel(std::uint16_t schema, std::string_view topic,
                                 std::string_view messageEncoding,
                                 const std::vector<std::pair<std::string, std::string>>& metadata) {
  const std::uint16_t id = nextChannel_++;
  std::string c;
  put<std::uint16_t>(c, id);
  put<std::uint16_t>(c, schema);
  putString(c, topic);
  putString(c, messageEncoding);
  std::string map;
  for (const auto& [k, v] : metadata) {
    putString(map, k);
    putString(map, v);
  }
  putString(c, map);
  channels_.push_back(record(kChannel, c));
  emit(channels_.back());
  return id;
}

void Writer::addMessage(std::uint16_t channel, std::uint64_t logTime, std::uint64_t publishTime,
                        std::string_view data) {
  if (chunk_.empty() || logTime < chunkStart_) chunkStart_ = logTime;
  if (chunk_.empty() || logTime > chunkEnd_) chunkEnd_ = logTime;
  chunkMessages_[channel].emplace_back(logTime, chunk_.size());
  // Written in place: a message's bytes are copied once, into the chunk.
  chunk_.push_back(static_cast<char>(kMessage));
  put<std::uint64_t>(chunk_, 2 + 4 + 8 + 8 + data.size());
  put<std::uint16_t>(chunk_, channel);
  put<std::uint32_t>(chunk_, sequence_[channel]++);
  put<std::uint64_t>(chunk_, logTime);
  put<std::uint64_t>(chunk_, publishTime);
  chunk_ += data;
  if (messageCount_ == 0 || logTime < firstTime_) firstTime_ = logTime;
  if (messageCount_ == 0 || logTime > lastTime_) lastTime_ = logTime;
  ++messageCount_;
  ++perChannel_[channel];
}

void Writer::closeChunk() {
  if (chunk_.empty()) return;
  // The sizes and the CRC are of the records themselves; what the chunk
  // holds may be them compressed.
  const bool packed = compression_ == "zstd" && zstdCompress(chunk_, &packed_);
  const std::string_view stored = packed ? std::string_view(packed_) : std::string_view(chunk_);
  const std::string_view compression = packed ? "zstd" : "";
  const std::uint64_t chunkOffset = offset_;
  // Written in place into the output, as the chunk is the bulk of it.
  const std::size_t recordAt = out_.size();
  out_.push_back(static_cast<char>(kChunk));
  put<std::uint64_t>(out_, 8 + 8 + 8 + 4 + 4 + compression.size() + 8 + stored.size());
  put<std::uint64_t>(out_, chunkStart_);
  put<std::uint64_t>(out_, chunkEnd_);
  put<std::uint64_t>(out_, chunk_.size());
  put<std::uint32_t>(out_, crc32(chunk_));
  putString(out_, compression);
  put<std::uint64_t>(out_, stored.size());
  out_ += stored;
  const std::uint64_t chunkRecordSize = out_.size() - recordAt;
  dataCrc_ = crc32(std::string_view(out_).substr(recordAt), dataCrc_);
  offset_ += chunkRecordSize;
  // One message index a channel, right behind its chunk.
  std::string offsets;
  const std::uint64_t indexesStart = offset_;
  for (const auto& [channel, entries] : chunkMessages_) {
    put<std::uint16_t>(offsets, channel);
    put<std::uint64_t>(offsets, offset_);
    std::string idx;
    put<std::uint16_t>(idx, channel);
    put<std::uint32_t>(idx, static_cast<std::uint32_t>(entries.size() * 16));
    for (const auto& [time, at] : entries) {
      put<std::uint64_t>(idx, time);
      put<std::uint64_t>(idx, at);
    }
    emit(record(kMessageIndex, idx));
  }
  std::string ci;
  put<std::uint64_t>(ci, chunkStart_);
  put<std::uint64_t>(ci, chunkEnd_);
  put<std::uint64_t>(ci, chunkOffset);
  put<std::uint64_t>(ci, chunkRecordSize);
  putString(ci, offsets);
  put<std::uint64_t>(ci, offset_ - indexesStart);
  putString(ci, packed ? "zstd" : "");
  put<std::uint64_t>(ci, stored.size());
  put<std::uint64_t>(ci, chunk_.size());
  chunkIndexes_.push_back(record(kChunkIndex, ci));
  ++chunkCount_;
  chunk_.clear();
  chunkMessages_.clear();
}

void Writer::finish() {
  if (finished_) return;
  closeChunk();
  std::string end;
  put<std::uint32_t>(end, dataCrc_);
  emit(record(kDataEnd, end));
  finished_ = true;

  const std::uint64_t summaryStart = offset_;
  std::uint32_t summaryCrc = 0;
  std::string groups;  // the summary offsets: opcode, start, length a group
  auto group = [&](std::uint8_t op, const std::vector<std::string>& records) {
    if (records.empty()) return;
    const std::uint64_t start = offset_;
    for (const std::string& r : records) {
      summaryCrc = crc32(r, summaryCrc);
      emit(r);
    }
    std::string so;
    so.push_back(static_cast<char>(op));
    put<std::uint64_t>(so, start);
    put<std::uint64_t>(so, offset_ - start);
    groups += record(kSummaryOffset, so);
  };
  group(kSchema, schemas_);
  group(kChannel, channels_);
  std::string st;
  put<std::uint64_t>(st, messageCount_);
  put<std::uint16_t>(st, static_cast<std::uint16_t>(schemas_.size()));
  put<std::uint32_t>(st, static_cast<std::uint32_t>(channels_.size()));
  put<std::uint32_t>(st, 0);  // attachments
  put<std::uint32_t>(st, 0);  // metadata
  put<std::uint32_t>(st, chunkCount_);
  put<std::uint64_t>(st, firstTime_);
  put<std::uint64_t>(st, lastTime_);
  std::string counts;
  for (const auto& [channel, n] : perChannel_) {
    put<std::uint16_t>(counts, channel);
    put<std::uint64_t>(counts, n);
  }
  putString(st, counts);
  group(kStatistics, {record(kStatistics, st)});
  group(kChunkIndex, chunkIndexes_);

  const std::uint64_t summaryOffsetStart = offset_;
  summaryCrc = crc32(groups, summaryCrc);
  emit(groups);
  // The footer's CRC covers the summary up to its own last offset field.
  std::string footer;
  put<std::uint64_t>(footer, summaryStart);
  put<std::uint64_t>(footer, summaryOffsetStart);
  std::string head = record(kFooter, footer + std::string(4, '\0'));
  head.resize(head.size() - 4);
  summaryCrc = crc32(head, summaryCrc);
  put<std::uint32_t>(head, summaryCrc);
  emit(head);
  out_ += kMagic;
  offset_ += kMagic.size();
}

namespace {

// Reads exactly `n` bytes into `out`, updating the data section's CRC; false
// at the end of the input (or an error) before them (`out` then holds what
// there was). Reads ahead in blocks: a file of millions of tiny records is
// not millions of reads.
struct Input {
  static constexpr std::size_t kReadAhead = 64 * 1024;
  explicit Input(const std::function<long long(char*, std::size_t)>& from) : read(from) {}
  const std::function<long long(char*, std::size_t)>& read;
  std::uint32_t crc = 0;
  bool failed = false;  // a read error, not the end
  std::string ahead;    // read, not yet taken from `at` on
  std::size_t at = 0;
  bool take(std::string& out, std::size_t n) {
    out.clear();
    while (out.size() < n) {
      if (at == ahead.size()) {
        ahead.resize(kReadAhead);
        const long long r = read(ahead.data(), ahead.size());
        ahead.resize(r > 0 ? static_cast<std::size_t>(r) : 0);
        at = 0;
        if (r <= 0) {
          failed = r < 0;
          return false;
        }
      }
      const std::size_t k = std::min(n - out.size(), ahead.size() - at);
      out.append(ahead, at, k);
      at += k;
    }
    crc = crc32(out, crc);
    return true;
  }
};

struct Channels {
  std::map<std::uint16_t, std::string> schemaNames;
  std::map<std::uint16_t, std::pair<ChannelInfo, bool>> byId;  // the channel, and whether it is wanted
  std::map<std::uint16_t, std::string> topics, encodings;      // the views' storage
  std::size_t kept = 0;                                        // bytes of names kept
};

// What a reader keeps of the names a file gives (a chunk may expand to
// kMaxRecordBytes, so the file's size bounds nothing): a recording of scans
// names a few channels, with short names.
constexpr std::size_t kMaxNameBytes = 4096;
constexpr std::size_t kMaxNamesKept = 1 << 20;

// Keeps a name, within the bounds; false with *why when it is past them.
bool keep(std::string_view name, const char* what, Channels& ch, std::string* out, std::string* why) {
  if (name.size() > kMaxNameBytes) {
    *why = std::string("a ") + what + " of " + std::to_string(name.size()) +
           " bytes, more than a recording of scans names";
    return false;
  }
  ch.kept += name.size() + 64;  // what a name costs with its map entry
  if (ch.kept > kMaxNamesKept) {
    *why = "more channels and schemas than a recording of scans names";
    return false;
  }
  *out = name;
  return true;
}

// One record's content (not a chunk's): schemas and channels are noted,
// messages of wanted channels handed on. False with *why for a bad one.
bool onRecord(std::uint8_t op, std::string_view content, Channels& ch,
              const std::function<bool(const ChannelInfo&)>& wanted,
              const std::function<bool(const MessageView&, std::string*)>& onMessage, std::string* why) {
  Cursor c{content};
  switch (op) {
    case kSchema: {
      const auto id = c.get<std::uint16_t>();
      if (!keep(c.string(), "schema name", ch, &ch.schemaNames[id], why)) return false;
      break;
    }
    case kChannel: {
      const auto id = c.get<std::uint16_t>();
      const auto schema = c.get<std::uint16_t>();
      if (!keep(c.string(), "channel topic", ch, &ch.topics[id], why) ||
          !keep(c.string(), "message encoding", ch, &ch.encodings[id], why))
        return false;
      if (!c.ok) break;
      const auto name = ch.schemaNames.find(schema);
      ChannelInfo info{id, ch.topics[id], name == ch.schemaNames.end() ? std::string_view() : name->second,
                       ch.encodings[id]};
      ch.byId[id] = {info, wanted(info)};
      break;
    }
    case kMessage: {
      const auto channel = c.get<std::uint16_t>();
      c.get<std::uint32_t>();
      const auto logTime = c.get<std::uint64_t>();
      c.get<std::uint64_t>();
      const auto found = ch.byId.find(channel);
      if (!c.ok || found == ch.byId.end()) {
        *why = "a message of a channel the file has not named";
        return false;
      }
      if (found->second.second && !onMessage({&found->second.first, logTime, c.rest}, why)) return false;
      return true;
    }
    default:
      return true;  // records a reader needs nothing from
  }
  if (!c.ok) {
    *why = "a record that does not parse";
    return false;
  }
  return true;
}

}  // namespace

ReadResult readRecording(const std::function<long long(char*, std::size_t)>& read,
                         const std::function<bool(const ChannelInfo&)>& wanted,
                         const std::function<bool(const MessageView&, std::string* why)>& onMessage) {
  ReadResult result;
  Input in{read};
  std::string head, content, unpacked;
  if (!in.take(head, kMagic.size()) || head != kMagic) {
    result.why = "not an MCAP file (no magic at its start)";
    return result;
  }
  Channels channels;
  auto cutShort = [&] {
    result.ok = !in.failed;
    result.cutShort = true;
    result.why = in.failed ? "the file cannot be read to its end"
                           : "the file ends inside a record (a recording cut short)";
    return result;
  };
  for (;;) {
    const std::uint32_t crcBefore = in.crc;
    if (!in.take(head, 9)) return cutShort();  // no Data End: cut short, between records or in one
    Cursor h{head};
    const auto op = h.get<std::uint8_t>();
    const auto length = h.get<std::uint64_t>();
    if (length > kMaxRecordBytes + 64) {
      result.why = "a record of " + std::to_string(length) + " bytes, more than a recording of scans holds";
      return result;
    }
    if (op == kDataEnd) {
      // Its CRC covers every byte before it; 0 means the writer left it out.
      if (!in.take(content, static_cast<std::size_t>(length))) return cutShort();
      Cursor c{content};
      const auto sent = c.get<std::uint32_t>();
      if (c.ok && sent != 0 && sent != crcBefore) {
        result.why = "the data section's CRC does not match: the file is damaged";
        return result;
      }
      result.ok = true;
      return result;
    }
    if (!in.take(content, static_cast<std::size_t>(length))) return cutShort();
    if (op != kChunk) {
      if (!onRecord(op, content, channels, wanted, onMessage, &result.why)) return result;
      continue;
    }
    Cursor c{content};
    c.get<std::uint64_t>();
    c.get<std::uint64_t>();
    const auto size = c.get<std::uint64_t>();
    const auto crc = c.get<std::uint32_t>();
    const std::string_view compression = c.string();
    std::string_view records = c.bytes(c.get<std::uint64_t>());
    if (!c.ok) {
      result.why = "a chunk that does not parse";
      return result;
    }
    if (size > kMaxRecordBytes) {
      result.why =
          "a chunk of " + std::to_string(size) + " bytes uncompressed, more than a recording of scans holds";
      return result;
    }
    if (compression == "zstd" && zstdAvailable()) {
      if (!zstdDecompress(records, static_cast<std::size_t>(size), &unpacked)) {
        result.why = "a zstd chunk that does not decompress to its stated size";
        return result;
      }
      records = unpacked;
    } else if (!compression.empty()) {
      result.why = "a compressed chunk (" + std::string(compression) + "), which this build cannot open";
      return result;
    }
    if (records.size() != size || (crc != 0 && crc32(records) != crc)) {
      result.why = "a chunk whose size or CRC does not match";
      return result;
    }
    Cursor r{records};
    while (!r.rest.empty()) {
      const auto innerOp = r.get<std::uint8_t>();
      const std::string_view inner = r.bytes(r.get<std::uint64_t>());
      if (!r.ok) {
        result.why = "a chunk whose records do not parse";
        return result;
      }
      if (innerOp == kChunk) {
        result.why = "a chunk inside a chunk";
        return result;
      }
      if (!onRecord(innerOp, inner, channels, wanted, onMessage, &result.why)) return result;
    }
  }
}

std::function<long long(char*, std::size_t)> readFrom(std::string_view bytes) {
  return [bytes, at = std::size_t{0}](char* out, std::size_t n) mutable -> long long {
    const std::size_t take = std::min(n, bytes.size() - at);
    std::copy_n(bytes.data() + at, take, out);
    at += take;
    return static_cast<long long>(take);
  };
}

bool readMessages(std::string_view file, std::vector<Message>* messages, std::string* why) {
  const ReadResult r = readRecording(
      readFrom(file), [](const ChannelInfo&) { return true; },
      [&](const MessageView& m, std::string*) {
        messages->push_back({std::string(m.channel->topic), std::string(m.channel->schemaName),
                             std::string(m.channel->messageEncoding), m.logTime, std::string(m.data)});
        return true;
      });
  *why = r.why;
  return r.ok;
}

}  // namespace lms::mcap
