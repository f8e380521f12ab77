// SPDX-License-Identifier: Apache-2.0
#pragma once

// What each option of a scanner may be, written once: the command line, the
// C++ Scanner, the C interface and the Python module all ask here, so one
// impossible value gets bad_argument with the same words from every face.
// Each check gives "" for a value that may be, else one line saying what
// the option takes, made from the protocol's own tables (the variants, the
// rates).

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace lmsview {
struct Options;
struct ScanFilter;
}  // namespace lmsview

namespace lms {

struct EngineOptions;

// The limits themselves.
inline constexpr std::int64_t kMaxIntervalMs = 3'600'000;  // an hour from one request to the next
inline constexpr std::uint64_t kMaxQueue = 1'000'000;      // scans kept for next()

std::string checkFamily(std::string_view family);
std::string checkBaud(std::int64_t baud);         // 0: find it
std::string checkScannerBaud(std::int64_t baud);  // 0: leave it
std::string checkInterval(std::int64_t ms);
std::string checkQueue(std::uint64_t scans);
std::string checkVariant(std::string_view name);  // "": leave the scanner as it is
std::string checkUnits(std::string_view units);
// A filter that keeps something of the field of `variant` (or of the widest
// field when none is named): a kept sector that is not empty and meets the
// field, masks and distances that are ordered and finite.
std::string checkFilter(const lmsview::ScanFilter& filter, std::string_view variant);

// The engine's options from the library's, and the first thing wrong with
// them (bad_link_name or bad_argument, and its line), or no error.
std::error_code engineOptionsFrom(const lmsview::Options& options, EngineOptions* out, std::string* why);

}  // namespace lms
