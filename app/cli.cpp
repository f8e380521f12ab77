#include "app/cli.h"

#include <cstring>

#include "lms/scanner.h"
#include "platform/text.h"
#include "transport/serial_port.h"

namespace app {

using platform::printable;

const char* usageText() {
  return "usage: lmsview COM <1-10 | device path> <LMS | PLS>\n"
         "       lmsview IP <scanner IPv4 address> <LMS | PLS>\n"
         "       lmsview --help | --version\n"
         "Reads a laser scanner about once a second and shows each scan as a table of\n"
         "angle and range. COM n is /dev/ttyS(n-1) at 9600 baud; a path such as\n"
         "/dev/ttyUSB0 names the serial device itself; IP connects to TCP port 10002.\n"
         "Any other number of arguments connects to the built-in address "
         "(Modo Default).\n"
         "A key press ends the run. Exit status: 0 stopped by a key, 1 the link could\n"
         "not be opened or was lost, 2 bad arguments, 130/143 ended by SIGINT/SIGTERM.\n";
}

namespace {

bool isComNumber(const char* s) {
  for (int n = 1; n <= 10; ++n) {
    if (std::strcmp(s, std::to_string(n).c_str()) == 0) return true;
  }
  return false;
}

}  // namespace

Invocation parseCommandLine(int argc, const char* const* argv) {
  Invocation inv;
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    inv.action = Invocation::Action::Help;
    return inv;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    inv.action = Invocation::Action::Version;
    return inv;
  }
  if (argc != 4) {
    inv.defaultMode = true;
    inv.address = lms::kDefaultScannerAddress;
    inv.laserType = "LMS";
    inv.banner = std::string("Modo Default\nComunicacion IP: ") + lms::kDefaultScannerAddress +
                 " Tipo de laser LMS\n\n";
    return inv;
  }
  const char* keyword = argv[1];
  const char* where = argv[2];
  inv.laserType = argv[3];
  if (std::strcmp(keyword, "COM") == 0) {
    if (transport::isDevicePath(where)) {
      inv.portName = where;
    } else if (isComNumber(where)) {
      inv.portName = std::string("COM") + where;
    } else {
      inv.action = Invocation::Action::BadPort;
      inv.error = std::string("lmsview: invalid port '") + printable(where) +
                  "': give 1 to 10 (COM1 to COM10) or a device path such as /dev/ttyUSB0";
      return inv;
    }
    inv.serial = true;
    inv.banner = "Comunicacion serial: " + printable(inv.portName) + " Tipo de laser " +
                 printable(inv.laserType) + "\n\n";
    return inv;
  }
  if (std::strcmp(keyword, "IP") == 0) {
    inv.address = where;
    inv.banner =
        "Comunicacion IP: " + printable(inv.address) + " Tipo de laser " + printable(inv.laserType) + "\n\n";
    return inv;
  }
  inv.action = Invocation::Action::BadKeyword;
  inv.error = std::string("lmsview: unknown link '") + printable(keyword) +
              "': use COM <port> <LMS|PLS> or IP <address> <LMS|PLS> (see --help)";
  return inv;
}

}  // namespace app
