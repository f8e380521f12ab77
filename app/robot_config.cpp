// SPDX-License-Identifier: Apache-2.0
#include "app/robot_config.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <set>

// Errors are values here as everywhere: the parser gives a result, never throws.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "lms/engine/link_name.h"
#include "lms/engine/option_rules.h"
#include "lms/formats/laser_scan.h"
#include "platform/input_file.h"
#include "platform/text.h"

namespace app {

namespace {

// The largest config a robot needs, with room to spare.
constexpr std::size_t kMaxConfigBytes = 1 << 20;

// One mistake, where it is: "FILE:LINE:COLUMN: KEY: what".
struct Mistake {
  const std::string& path;
  std::string* error;
  bool operator()(const toml::source_region& at, std::string_view key, const std::string& what) const {
    *error = platform::printable(path) + ":" + std::to_string(at.begin.line) + ":" +
             std::to_string(at.begin.column) + ": " + (key.empty() ? "" : platform::printable(key) + ": ") +
             what;
    return false;
  }
};

const char* typeName(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::string:
      return "text";
    case toml::node_type::integer:
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::array:
      return "a list";
    case toml::node_type::table:
      return "a table";
    default:
      return "a date or time";
  }
}

std::optional<double> number(const toml::node& n) {
  if (const auto* i = n.as_integer()) return static_cast<double>(i->get());
  if (const auto* f = n.as_floating_point()) return f->get();
  return std::nullopt;
}

// A list of two finite numbers, [a, b].
bool pairOf(const toml::node& n, std::string_view key, const Mistake& mistake, double* a, double* b) {
  const auto* list = n.as_array();
  if (list == nullptr || list->size() != 2)
    return mistake(n.source(), key, std::string("takes two numbers, [from, to], not ") + typeName(n));
  const auto x = number(*list->get(0)), y = number(*list->get(1));
  if (!x || !y) return mistake(n.source(), key, "takes two numbers, [from, to]");
  if (!std::isfinite(*x) || !std::isfinite(*y)) return mistake(n.source(), key, "takes finite numbers");
  *a = *x;
  *b = *y;
  return true;
}

// The device or address a link reaches, so two scanners on one are refused.
std::string placeOf(const lms::LinkName& l) {
  if (!l.recording.empty()) return "file " + l.recording + "?" + l.recordingTopic;
  if (l.serial) return "serial " + l.device;
  return "tcp " + l.address + ":" + std::to_string(l.port);
}

bool readScanner(const std::string& name, const toml::table& t, const Mistake& mistake, ScannerConfig* s) {
  s->name = name;
  const toml::node* link = t.get("link");
  if (link == nullptr) return mistake(t.source(), "scanner." + name, "has no link (link = \"tcp://...\")");
  for (const auto& member : t) {
    // Named, not bound: the lambdas below take them.
    const toml::key& key = member.first;
    const toml::node& node = member.second;
    const std::string_view k = key.str();
    const toml::source_region& at = node.source();
    const auto text = [&](std::string* out) {
      if (const auto* v = node.as_string()) {
        *out = v->get();
        return true;
      }
      return mistake(at, k, std::string("takes text, not ") + typeName(node));
    };
    const auto flag = [&](bool* out) {
      if (const auto* v = node.as_boolean()) {
        *out = v->get();
        return true;
      }
      return mistake(at, k, std::string("takes true or false, not ") + typeName(node));
    };
    const auto whole = [&](std::int64_t* out) {
      if (const auto* v = node.as_integer()) {
        *out = v->get();
        return true;
      }
      return mistake(at, k, std::string("takes a whole number, not ") + typeName(node));
    };
    // The rules every face checks with: the same words as the command line's.
    const auto rule = [&](const std::string& why) { return why.empty() || mistake(at, k, why); };
    std::int64_t n = 0;
    if (k == "link") {
      if (!text(&s->link)) return false;
      lms::LinkName parsed;
      if (!lms::parseLinkName(s->link, &parsed))
        return mistake(at, k,
                       "not a link name: '" + platform::printable(s->link) +
                           "' (tcp://ADDRESS[:PORT], serial://DEVICE or file:RECORDING)");
      s->serial = parsed.serial;
    } else if (k == "family") {
      if (!text(&s->family) || !rule(lms::checkFamily(s->family))) return false;
    } else if (k == "baud") {
      std::string automatic;
      if (node.is_string() && text(&automatic) && automatic == "auto") {
        s->findRate = true;
        continue;
      }
      if (!whole(&n)) return false;
      if (n == 0) return mistake(at, k, "takes a rate, or \"auto\" to find it");
      if (!rule(lms::checkBaud(n))) return false;
      s->baud = static_cast<int>(n);
    } else if (k == "scanner_baud") {
      if (!whole(&n) || !rule(lms::checkScannerBaud(n))) return false;
      s->scannerBaud = static_cast<int>(n);
    } else if (k == "keep_scanner_baud") {
      if (!flag(&s->keepScannerBaud)) return false;
    } else if (k == "variant") {
      if (!text(&s->variant) || !rule(lms::checkVariant(s->variant))) return false;
    } else if (k == "units") {
      if (!text(&s->units) || !rule(lms::checkUnits(s->units))) return false;
    } else if (k == "interval") {
      if (!whole(&n) || !rule(lms::checkInterval(n))) return false;
      s->intervalMs = static_cast<int>(n);
    } else if (k == "reconnect") {
      if (!flag(&s->reconnect)) return false;
    } else if (k == "stream") {
      if (!flag(&s->stream)) return false;
    } else if (k == "pose") {
      const auto* p = node.as_table();
      if (p == nullptr) return mistake(at, k, "takes { x = ..., y = ..., yaw_deg = ... }");
      for (const auto& [part, value] : *p) {
        const std::string_view pk = part.str();
        double* into = pk == "x"         ? &s->pose.x
                       : pk == "y"       ? &s->pose.y
                       : pk == "yaw_deg" ? &s->pose.yaw
                                         : nullptr;
        if (into == nullptr)
          return mistake(part.source(), "pose." + std::string(pk), "is no key of a pose (x, y, yaw_deg)");
        const auto v = number(value);
        if (!v)
          return mistake(value.source(), "pose." + std::string(pk),
                         std::string("takes a number, not ") + typeName(value));
        if (!std::isfinite(*v))
          return mistake(value.source(), "pose." + std::string(pk), "takes a finite number");
        *into = *v;
      }
      s->pose.yaw *= std::numbers::pi / 180.0;
    } else if (k == "crop_deg") {
      if (!pairOf(node, k, mistake, &s->filter.crop_min_deg, &s->filter.crop_max_deg)) return false;
    } else if (k == "mask_deg") {
      const auto* list = node.as_array();
      if (list == nullptr) return mistake(at, k, "takes a list of sectors, [[from, to], ...]");
      for (const toml::node& sector : *list) {
        double a = 0, b = 0;
        if (!pairOf(sector, k, mistake, &a, &b)) return false;
        s->filter.mask_deg.emplace_back(a, b);
      }
    } else if (k == "range_m") {
      if (!pairOf(node, k, mistake, &s->filter.range_min_m, &s->filter.range_max_m)) return false;
    } else {
      return mistake(
          key.source(), k,
          "is no key of a scanner (link, family, baud, scanner_baud, keep_scanner_baud, variant, units, "
          "interval, reconnect, stream, pose, crop_deg, mask_deg, range_m)");
    }
  }
  const toml::source_region& at = t.source();
  if (!s->serial && (s->baud != 0 || s->findRate || s->scannerBaud != 0))
    return mistake(at, "scanner." + name, "baud and scanner_baud are for serial links");
  if (s->keepScannerBaud && s->scannerBaud == 0)
    return mistake(at, "scanner." + name, "keep_scanner_baud goes with scanner_baud");
  if (const std::string why = lms::checkFilter(s->filter, s->variant); !why.empty()) {
    const toml::node* where = t.get("crop_deg");
    if (where == nullptr) where = t.get("range_m");
    if (where == nullptr) where = t.get("mask_deg");
    return mistake(where ? where->source() : at, where ? "" : "scanner." + name, why);
  }
  return true;
}

}  // namespace

bool parseRobotConfig(std::string_view text, const std::string& path, RobotConfig* out, std::string* error) {
  const Mistake mistake{path, error};
  toml::parse_result parsed = toml::parse(text, path);
  if (!parsed) {
    const toml::parse_error& e = parsed.error();
    return mistake(e.source(), "", "not TOML: " + std::string(e.description()));
  }
  const toml::table& top = parsed.table();
  out->path = path;
  std::vector<std::pair<const toml::table*, std::string>> tables;
  for (const auto& [key, node] : top) {
    const std::string_view k = key.str();
    if (k == "base_frame") {
      const auto* v = node.as_string();
      if (v == nullptr || v->get().empty()) return mistake(node.source(), k, "takes a frame's name");
      out->baseFrame = v->get();
    } else if (k == "scanner") {
      const auto* scanners = node.as_table();
      if (scanners == nullptr) return mistake(node.source(), k, "takes tables: [scanner.NAME]");
      for (const auto& [name, table] : *scanners) {
        const auto* t = table.as_table();
        if (t == nullptr)
          return mistake(table.source(), "scanner." + std::string(name.str()), "takes a table");
        tables.emplace_back(t, std::string(name.str()));
      }
    } else {
      return mistake(key.source(), k, "is no key of a config (base_frame, [scanner.NAME])");
    }
  }
  if (tables.empty()) return mistake(top.source(), "", "names no scanner ([scanner.NAME] with its link)");
  // The file's order: the first scanner paces the merged scan.
  std::stable_sort(tables.begin(), tables.end(), [](const auto& a, const auto& b) {
    const auto& x = a.first->source().begin;
    const auto& y = b.first->source().begin;
    return x.line != y.line ? x.line < y.line : x.column < y.column;
  });
  std::set<std::string> places;
  for (const auto& [table, name] : tables) {
    if (!lms::validRos2Topic("/" + name + "/scan"))
      return mistake(table->source(), "scanner." + name,
                     "a scanner's name is letters, digits and '_', not starting with a digit (it names /" +
                         platform::printable(name) + "/scan)");
    ScannerConfig s;
    if (!readScanner(name, *table, mistake, &s)) return false;
    lms::LinkName link;
    lms::parseLinkName(s.link, &link);
    if (!places.insert(placeOf(link)).second)
      return mistake(table->get("link")->source(), "link",
                     "another scanner already reads " + platform::printable(s.link));
    out->scanners.push_back(std::move(s));
  }
  return true;
}

bool loadRobotConfig(const std::string& path, RobotConfig* out, std::string* error) {
  platform::InputFile file;
  if (const std::error_code ec = file.open(path)) {
    *error =
        platform::printable(path) + ": " + (ec == std::errc::is_a_directory ? "is a folder" : ec.message());
    return false;
  }
  if (file.size() > static_cast<std::int64_t>(kMaxConfigBytes)) {
    *error = platform::printable(path) + ": more than a config holds (" + std::to_string(kMaxConfigBytes) +
             " bytes)";
    return false;
  }
  std::string text(static_cast<std::size_t>(file.size()), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const long long n = file.read(text.data() + got, text.size() - got);
    if (n <= 0) {
      *error =
          platform::printable(path) + ": " + (n < 0 ? file.lastError().message() : "shorter than it was");
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return parseRobotConfig(text, path, out, error);
}

}  // namespace app
