// SPDX-License-Identifier: Apache-2.0
// The sinks of a run, from its options and the format table.

#include "app/outputs/file_output.h"
#include "app/outputs/format_table.h"
#include "app/outputs/sink.h"
#include "app/run_options.h"

namespace app {

Sinks makeSinks(const SinkSetup& setup, const OpenedOutputs& opened) {
  FileOutput* record = opened.record;
  Sinks sinks;
  sinks.shown.push_back(formatInfo(static_cast<int>(setup.options.format)).make(setup));
  if (!setup.options.svgPath.empty()) sinks.shown.push_back(makeSvgSink(setup));
  if (record != nullptr && record->active())
    sinks.received.push_back(setup.options.recordFormat == RecordFormat::Mcap
                                 ? makeMcapSink(setup, record)
                                 : makeRecordSink(setup, record));
  sinks.received.insert(sinks.received.end(), opened.received.begin(), opened.received.end());
  return sinks;
}

}  // namespace app
