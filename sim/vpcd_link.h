#pragma once
// The socket to the vpcd reader driver of pcscd: the card connects to the driver, which
// listens on loopback. Frames both ways are a 2-byte big-endian length and the bytes.

#include <chrono>
#include <string>

#include "sim/vpcd_card.h"

namespace kasse::sim {

struct LinkOptions {
  std::string host = "127.0.0.1";
  int port = 35963;
  std::chrono::milliseconds stall{0};    // before every answer to a command
  std::chrono::milliseconds retry{500};  // between connection attempts
};

// Serves the card until `stopFd` becomes readable, reconnecting whenever the driver goes
// away (pcscd restarted) or a fault drops the connection. Logs to standard error.
void RunVpcdLink(VpcdCard& card, const LinkOptions& options, int stopFd);

}  // namespace kasse::sim
