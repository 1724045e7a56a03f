#include "measure/command_line.h"

namespace trelvane {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string joined;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined += ' ';
    joined += arguments[i];
  }
  return std::string(TrimBlanks(joined));
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (!arguments.empty()) {
    const std::string& first = arguments.front();
    if (first == "--help" || first == "-h") {
      line.mode = CommandLine::Mode::kHelp;
      return line;
    }
    if (first == "--version") {
      line.mode = CommandLine::Mode::kVersion;
      return line;
    }
    if (first == "--burst") {
      line.host = JoinArguments({arguments.begin() + 1, arguments.end()});
      line.mode = line.host.empty() ? CommandLine::Mode::kUsageError : CommandLine::Mode::kBurst;
      return line;
    }
  }
  line.host = JoinArguments(arguments);
  return line;
}

std::string UsageText() {
  return "Usage: trelvane [HOST]\n"
         "  or:  trelvane --burst HOST\n"
         "  or:  trelvane --help | --version\n"
         "Watch the packet loss and response time of the network path to HOST: a burst of 24\n"
         "ICMP echo requests a minute, shown in a window and appended to trelvane.txt in the\n"
         "current directory.\n"
         "\n"
         "  HOST            a host name or a dotted IPv4 address; the whole rest of the command\n"
         "                  line is the host. With a host the program starts measuring at once\n"
         "                  and waits in the notification area; without one it opens idle.\n"
         "      --burst HOST  send one burst to HOST, print each result and the measurement\n"
         "                  line, and exit; no window, nothing written to the history file\n"
         "  -h, --help      display this help and exit\n"
         "      --version   output version information and exit\n"
         "\n"
         "Each request gives \"N ms\", \"Timeout\", \"Err\" (unresolved, unreachable, or no ICMP\n"
         "socket allowed) or \"SZErr\". Without root, allow ICMP with\n"
         "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
         "or give the program raw sockets with setcap cap_net_raw+ep.\n"
         "\n"
         "Exit status:\n"
         " 0  if OK, also when requests of a burst failed,\n"
         " 2  if the command line is wrong.\n"
         "\n"
         "Full documentation: man trelvane\n";
}

}  // namespace trelvane
