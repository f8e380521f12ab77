// Micro-benchmarks of the per-scan work: checksum, validation and decoding,
// table formatting and the hand-off between threads.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/plot.h"
#include "app/table_format.h"
#include "lms/scan.h"
#include "lms/scan_slot.h"
#include "lms/telegram.h"
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

BENCHMARK_MAIN();
