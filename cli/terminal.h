#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "cli/command_line.h"
#include "measure/clock.h"
#include "measure/measurement.h"
#include "probe/pinger.h"

namespace trelvane {

struct BurstOutcome {
  Measurement measurement;
  bool not_permitted = false;  // some request failed for want of the privilege to send ICMP
  bool no_such_host = false;   // every request failed because the host's name does not exist
};

// Sends one burst exactly as a measurement does (BurstCycle): kRequestsPerBurst requests one
// after another through `ping`, each result handed to `on_result` as it arrives.
BurstOutcome RunBurst(const std::function<PingResult()>& ping, const Clock& clock,
                      const std::function<void(std::string_view)>& on_result);

// Runs what a command line asks of the terminal (--help, --version, a usage error, --burst,
// --report, --export) and returns the exit status; nothing when it asks for the window.
std::optional<int> RunTerminalCommand(const CommandLine& line);

}  // namespace trelvane
