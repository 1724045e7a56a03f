// Links the display-free libraries into one program so that the cross build resolves every symbol
// of the platform backend. Prints one burst's measurement line for the host given.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/terminal.h"
#include "graph/axes.h"
#include "history/history_file.h"
#include "history/history_format.h"
#include "probe/pinger.h"
#include "probe/system_echo_service.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::unique_ptr<trelvane::EchoService> service = trelvane::MakeSystemEchoService();
  const trelvane::Pinger pinger(*service);
  const trelvane::SystemClock clock;
  const std::string line =
      trelvane::MeasurementLine(trelvane::RunBurst([&] { return pinger.PingResultFor(argv[1]); },
                                                   clock, [](std::string_view) {})
                                    .measurement);
  // The history file's backend, on a file in the current folder.
  trelvane::HistoryFile history("trelvane-link-check.txt");
  history.AppendRunHeader(trelvane::RunHeader(clock.Now(), clock.separators()));
  history.AppendMeasurement(line);
  std::printf("%s (y %.2f), %zu runs\n", line.c_str(), trelvane::ResponseY(20),
              history.RunList().value_or(std::vector<std::string>{}).size());
  return 0;
}
