// Micro-benchmarks of the per-scan work: checksum, validation and decoding,
// table formatting and the hand-off between threads.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/plot.h"
#include "app/scan_formats.h"
#include "app/table_format.h"
#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scan_slot.h"
#include "lms/protocol/telegram.h"
#include "sim/engine.h"
#include "sim/scene.h"

using namespace app;
using namespace lms;
using namespace sim;

namespace {

std::vector<std::uint8_t> sampleReply() {
  return measurementReply(Scene(1).scan(0));
}

void BM_LmsCrc16Reply(benchmark::State& state) {
  const auto reply = sampleReply();
  for (auto _ : state) benchmark::DoNotOptimize(lmsCrc16(reply.data(), kReplyLength - 2));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kReplyLength - 2));
}
BENCHMARK(BM_LmsCrc16Reply);

void BM_ValidateAndDecode(benchmark::State& state) {
  const auto reply = sampleReply();
  float ranges[kScanPoints];
  int count = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkMeasurementReply(reply.data(), kReplyLength));
    decodeRanges(kRangeBytes, reply.data() + kRangeOffset, ranges, &count);
    benchmark::DoNotOptimize(ranges);
  }
}
BENCHMARK(BM_ValidateAndDecode);

void BM_FormatTable361Rows(benchmark::State& state) {
  const auto reply = sampleReply();
  float ranges[kScanPoints];
  int count = 0;
  decodeRanges(kRangeBytes, reply.data() + kRangeOffset, ranges, &count);
  std::string table;
  table.reserve(64 * 1024);
  int sample = 0;
  for (auto _ : state) {
    formatScanTable(table, sample++, ranges, kAngleTable.data(), count, false);
    benchmark::DoNotOptimize(table.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
}
BENCHMARK(BM_FormatTable361Rows);

// One --format plot frame for a 200 x 60 terminal.
void BM_FormatPlotFrame200x60(benchmark::State& state) {
  const auto reply = sampleReply();
  float ranges[kScanPoints];
  int count = 0;
  decodeRanges(kRangeBytes, reply.data() + kRangeOffset, ranges, &count);
  std::string frame;
  const PlotView view{.cols = 200, .rows = 60};
  lmsview::Scan scan;
  for (int i = 0; i < count; ++i) scan.ranges[static_cast<std::size_t>(i)] = ranges[i] / 100.0f;
  for (auto _ : state) {
    ++scan.seq;
    formatPlotFrame(frame, scan, view);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_FormatPlotFrame200x60);

void BM_HandOffPublishAndTake(benchmark::State& state) {
  auto slot = std::make_unique<ScanSlot>();
  float ranges[kScanPoints] = {};
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  for (auto _ : state) {
    slot->publishScan(ranges, kScanPoints);
    benchmark::DoNotOptimize(slot->takeScan(r, a, count));
  }
}
BENCHMARK(BM_HandOffPublishAndTake);

}  // namespace

// One scan into a recording: a JSON line with its words, against the two
// MCAP messages (the CDR laser scan and the raw words) a scan makes.
lmsview::Scan sampleScan() {
  const auto reply = sampleReply();
  lmsview::Scan scan;
  std::uint16_t words[kScanPoints];
  decodeWords(reply.data() + kRangeOffset, kScanPoints, words);
  toScan({nullptr, nullptr, words, kScanPoints, 1'796'631'827'291'105'419LL}, 0, &scan);
  return scan;
}

void BM_RecordJsonLine(benchmark::State& state) {
  const lmsview::Scan scan = sampleScan();
  std::string line;
  for (auto _ : state) {
    app::formatJsonLine(line, scan, "laser", true);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_RecordJsonLine);

void BM_RecordMcapMessages(benchmark::State& state) {
  const lmsview::Scan scan = sampleScan();
  lms::mcap::Writer writer("ros2", "bench");
  const auto channel =
      writer.addChannel(writer.addSchema("s", "ros2msg", lms::kLaserScanDefinition), "/scan", "cdr", {});
  const auto raw = writer.addChannel(writer.addSchema("r", "jsonschema", "{}"), "/scan/raw", "json", {});
  std::string text;
  std::size_t bytes = 0;
  for (auto _ : state) {
    writer.addMessage(channel, 1, 1, lms::laserScanCdr(lms::laserScanFields(scan, "laser")));
    lms::rawWordsJson(scan, &text);
    writer.addMessage(raw, 1, 1, text);
    if (writer.openChunkBytes() > (1 << 20)) {
      writer.closeChunk();
      bytes += writer.take().size();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordMcapMessages);

BENCHMARK_MAIN();
