// The driver's configuration operations. The program itself never sends
// them; they are here for tools built on the driver.

#include "lms/protocol/driver.h"

namespace lms {

template <class Link>
int LmsDriver<Link>::setRangeRes(int selector, Transport& transport) {
  const std::uint8_t* msg = msgRange100Res100.data();
  switch (selector) {
    case 20:
      msg = msgRange180Res50.data();
      break;
    case 24:
      msg = msgRange180Res100.data();
      break;
    case 34:
      msg = msgRange100Res25.data();
      break;
    case 36:
      msg = msgRange100Res50.data();
      break;
    case 40:
      break;
    default:
      say("Invalid resolution selected. Drop back to default\n");
      break;
  }
  // Every variant telegram has the same 9 bytes (command 0x3B, angle, resolution).
  if (exchange(msg, static_cast<int>(msgRange100Res100.size()), transport) != AckResult::Ack) {
    say("setRangeRes - Resolution mode setting failure\n");
    return 1;
  }
  return 0;
}

template <class Link>
int LmsDriver<Link>::sendPassword(Transport& transport) {
  if (exchange(msgPassword.data(), static_cast<int>(msgPassword.size()), transport) != AckResult::Ack) {
    say("sendPassword - Measurement mode setting failure\n");
    return 1;
  }
  return 0;
}

template <class Link>
int LmsDriver<Link>::setUnits(int units, Transport& transport) {
  if (units != 0 && units != 1) {
    // Sending the stored configuration for a value we do not know would
    // report success for something never asked for.
    say("setUnits - Invalid units specified\n");
    return 1;
  }
  auto msg = msgConfig;
  if (units == 0) msg[kUnitsByte] = 0x00;
  if (exchange(msg.data(), static_cast<int>(msg.size()), transport) != AckResult::Ack) {
    say("setUnits - Measurement mode setting failure2\n");
    return 1;
  }
  return 0;
}

template <class Link>
void LmsDriver<Link>::stopLMS(Transport& transport) {
  if (exchange(msgStopLMS.data(), static_cast<int>(msgStopLMS.size()), transport) != AckResult::Ack) {
    say("stopLMS - LMS fails to stop\n");
  }
}

template <class Link>
bool LmsDriver<Link>::resetLMS(Transport& transport, int baudRate) {
  const Bytes6* telegram = baudTelegram(baudRate);
  const std::uint8_t* msg = telegram ? telegram->data() : nullptr;
  if (msg == nullptr) {
    // Nothing was sent, so there is nothing to wait for and no reason to close.
    say("resetLMS - Baud rate changes failure\n");
    return false;
  }
  // Every rate telegram has the same 6 bytes (operating mode 0x20 and the rate's code).
  if (exchange(msg, static_cast<int>(msgBaud9600.size()), transport) != AckResult::Ack)
    say("resetLMS - Baud rate changes failure\n");
  return transport.close();
}

// The rest of the class is instantiated in driver.cpp.
#define LMS_INSTANTIATE_CONFIG(LinkType)                                    \
  template int LmsDriver<LinkType>::setRangeRes(int, LinkType::Transport&); \
  template int LmsDriver<LinkType>::sendPassword(LinkType::Transport&);     \
  template int LmsDriver<LinkType>::setUnits(int, LinkType::Transport&);    \
  template void LmsDriver<LinkType>::stopLMS(LinkType::Transport&);         \
  template bool LmsDriver<LinkType>::resetLMS(LinkType::Transport&, int);
LMS_INSTANTIATE_CONFIG(SerialPortLink)
LMS_INSTANTIATE_CONFIG(TcpClientLink)
#undef LMS_INSTANTIATE_CONFIG

}  // namespace lms
