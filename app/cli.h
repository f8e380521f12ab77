#pragma once

// The command line: link keyword, port or address, laser type. Parsing has no
// side effects, so every row of the argument table can be tested without
// opening a link.

#include <string>

namespace app {

inline constexpr const char* kVersion = LMS_VERSION;

struct Invocation {
  enum class Action { Run, Help, Version, BadKeyword, BadPort };
  Action action = Action::Run;
  bool serial = false;
  bool defaultMode = false;
  std::string portName;  // "COM1".."COM10", or a device path
  std::string address;   // dotted IPv4 text, passed on unchanged
  std::string laserType;
  std::string banner;  // printed on standard output before the run; user text in it is printable
  std::string error;   // one line for standard error when the action is Bad*
};

Invocation parseCommandLine(int argc, const char* const* argv);
const char* usageText();

}  // namespace app
