// SPDX-License-Identifier: Apache-2.0
// Micro-benchmarks of the per-scan work: checksum, validation and decoding,
// table formatting and the hand-off between threads.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/outputs/csv.h"
#include "app/outputs/output_helpers.h"
#include "app/outputs/plot.h"
#include "app/outputs/table.h"
#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "lms/formats/scan_json.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scan_slot.h"
#include "lms/protocol/telegram.h"
#include "lmsview/robot.h"
#include "sim/emulated_scanner.h"
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

// The check and the one decoding of a reply: words, metres and geometry,
// into a record whose buffers are reused, as the driver does.
void BM_ValidateAndDecode(benchmark::State& state) {
  const auto reply = sampleReply();
  lmsview::Scan scan;
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkMeasurementReply(reply.data(), kReplyLength));
    decodeMeasurementReply(reply.data(), &scan);
    benchmark::DoNotOptimize(scan.ranges.data());
  }
}
BENCHMARK(BM_ValidateAndDecode);

lmsview::Scan sampleScan() {
  lmsview::Scan scan;
  decodeMeasurementReply(sampleReply().data(), &scan);
  scan.stamp_ns = 1'796'631'827'291'105'419LL;
  return scan;
}

void BM_FormatTable361Rows(benchmark::State& state) {
  lmsview::Scan scan = sampleScan();
  std::string table;
  table.reserve(64 * 1024);
  for (auto _ : state) {
    ++scan.seq;
    formatScanTable(table, scan, 0, false);
    benchmark::DoNotOptimize(table.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
}
BENCHMARK(BM_FormatTable361Rows);

// One --format plot frame for a 200 x 60 terminal.
void BM_FormatPlotFrame200x60(benchmark::State& state) {
  lmsview::Scan scan = sampleScan();
  std::string frame;
  const PlotView view{.cols = 200, .rows = 60};
  for (auto _ : state) {
    ++scan.seq;
    formatPlotFrame(frame, scan, view);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_FormatPlotFrame200x60);

// The hand-off of one scan: the writer fills its record in place and
// publishes it, the reader takes it.
void BM_HandOffPublishAndTake(benchmark::State& state) {
  auto slot = std::make_unique<ScanSlot>();
  const auto reply = sampleReply();
  for (auto _ : state) {
    decodeMeasurementReply(reply.data(), &slot->back());
    slot->publish();
    benchmark::DoNotOptimize(slot->takeScan());
  }
}
BENCHMARK(BM_HandOffPublishAndTake);

}  // namespace

// One scan into a recording: a JSON line with its words, against the two
// MCAP messages (the CDR laser scan and the raw words) a scan makes.

void BM_RecordJsonLine(benchmark::State& state) {
  const lmsview::Scan scan = sampleScan();
  std::string line;
  for (auto _ : state) {
    lms::scan_json::formatLine(line, scan, "laser", true);
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
    lms::scan_json::formatRawWords(scan, &text);
    writer.addMessage(raw, 1, 1, text);
    if (writer.openChunkBytes() > (1 << 20)) {
      writer.closeChunk();
      bytes += writer.take().size();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RecordMcapMessages);

// Two scanners of 361 points into one cloud and a 360-degree scan in the
// robot's frame (the target: at most 50 us).
void BM_MergeTwoScans(benchmark::State& state) {
  const lmsview::Scan front = sampleScan();
  const lmsview::Scan rear = sampleScan();
  const lmsview::PlacedScan placed[] = {{&front, {0.3, 0.2, 0.785}}, {&rear, {-0.3, -0.2, -2.356}}};
  lmsview::Merged merged;
  for (auto _ : state) {
    lmsview::merge(placed, 2, &merged);
    benchmark::DoNotOptimize(merged.points.data());
  }
}
BENCHMARK(BM_MergeTwoScans);

BENCHMARK_MAIN();
