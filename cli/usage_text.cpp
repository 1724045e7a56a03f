#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/options.h"

namespace trelvane {
namespace {

using cli_options::TrimBlanks;

// Appends `text` to `out`, starting at `column`, wrapped at 79 columns with `indent` blanks on the
// next lines.
void Wrap(std::string_view text, std::size_t column, std::size_t indent, std::string& out) {
  constexpr std::size_t kWidth = 79;
  while (!text.empty()) {
    const std::size_t room = kWidth - column;
    std::size_t cut = text.size();
    if (cut > room) {
      cut = text.rfind(' ', room);
      if (cut == std::string_view::npos || cut == 0) cut = room;
    }
    out += text.substr(0, cut);
    out += '\n';
    text.remove_prefix(cut);
    text = TrimBlanks(text);
    if (!text.empty()) out.append(indent, ' ');
    column = indent;
  }
}

// One option of --help: its names, then its help from the help column on, wrapped.
void HelpRow(std::string names, std::string_view help, std::string& text) {
  constexpr std::size_t kHelpColumn = 20;
  if (names.size() + 1 > kHelpColumn) {
    text += names + "\n";
    names.clear();
  }
  names.resize(kHelpColumn, ' ');
  text += names;
  Wrap(help, kHelpColumn, kHelpColumn, text);
}

}  // namespace

std::string UsageText(std::string_view history_file) {
  std::string text =
      "Usage: trelvane [--history FILE] [METRICS] [HOST]\n"
      "  or:  trelvane --headless [--quiet] [--history FILE] [METRICS] HOST\n";
  for (const cli_options::Option& option : cli_options::kOptions) {
    if (option.argument.empty()) continue;
    text +=
        "  or:  trelvane " + std::string(option.name) + " " + std::string(option.argument) + "\n";
  }
  text += "  or:  trelvane --help | --version\n";
  Wrap(
      "Watch the packet loss and response time of the network path to HOST: a burst of 24 ICMP "
      "echo requests a minute, shown in a window and appended to the history file: trelvane.txt "
      "in the folder the program is started from when one is there already, else "
      "$XDG_DATA_HOME/trelvane/trelvane.txt (~/.local/share/trelvane/ by default).",
      0, 0, text);
  text += "\n";
  HelpRow("  HOST",
          "a host name, a dotted IPv4 address or an IPv6 address (::1, [2001:db8::1], "
          "fe80::1%eth0); the whole rest of the command line is the host. With a host the "
          "program starts measuring at once and waits in the notification area; without one it "
          "opens idle.",
          text);
  HelpRow("      --history FILE",
          "the history file to use instead of the default, for the window, --report and "
          "--export (given first); each file has its own lock, so windows with files of their "
          "own measure several hosts at once",
          text);
  HelpRow("      --headless",
          "measure HOST as the window does (the same bursts, history and alerts) with no display: "
          "each measurement line on stdout; ends on SIGTERM or SIGINT",
          text);
  HelpRow("      --quiet", "with --headless: print nothing but errors", text);
  text += "METRICS: --metrics-listen [ADDRESS:]PORT and --metrics-file PATH, either or both:\n";
  HelpRow("      --metrics-listen [ADDRESS:]PORT",
          "serve the figures at http://ADDRESS:PORT/metrics for Prometheus (ADDRESS 127.0.0.1 "
          "unless given; [::1] for IPv6)",
          text);
  HelpRow("      --metrics-file PATH",
          "write the same figures to PATH after each measurement, whole (for node_exporter's "
          "textfile collector)",
          text);
  for (const cli_options::Option& option : cli_options::kOptions) {
    std::string names =
        option.short_name.empty() ? "      " : std::string(option.short_name) + ", ";
    names += option.name;
    if (!option.argument.empty()) names += " " + std::string(option.argument);
    HelpRow("  " + names, option.help, text);
  }
  text +=
      "Options of --report and --export (--loss-threshold, --merge and --details for --report "
      "only):\n";
  for (const cli_options::QueryOption& option : cli_options::kQueryOptions) {
    HelpRow("      " + std::string(option.name) +
                (option.argument.empty() ? "" : " " + std::string(option.argument)),
            option.help, text);
  }
  Wrap(
      "A report takes the stamps as the window does (first 10 characters the date, last 5 the "
      "time). Availability is the share of measured minutes with at least one answer, the clean "
      "share those with no loss; percentages have two decimals, rounded down. Response times "
      "count answered minutes only: the median and the 95th percentile are measured values of "
      "nearest rank (never interpolated), in whole ms. Outages (loss 100) and loss episodes are "
      "stretches of consecutive minutes; more than 2 minutes between two measurements is a gap, "
      "listed apart and counted neither as an outage nor as available. The text report starts "
      "with the summary (the longest outage, the worst day: least available), then one row per "
      "day and per run, then the outages; every outage, episode and gap names its run.",
      0, 0, text);
  Wrap(
      "Alerts: a desktop notification when the link goes down (100 % loss in 2 measurements in "
      "a row) and when it comes back; the tray icon's dot shows it up (green), degraded (orange: "
      "a loss of 25 % or more in 3 in a row) or down (red). \"Alertes\" in the tray icon's menu "
      "turns the notifications off; the settings are kept in "
      "$XDG_CONFIG_HOME/trelvane/trelvane.conf.",
      0, 0, text);
  if (!history_file.empty()) Wrap("History file here: " + std::string(history_file), 0, 2, text);
  Wrap("The options of the windowing toolkit (-style, -platform, -display, ...) are taken by it.",
       0, 0, text);
  text += "\n";
  Wrap(
      "Each request gives \"N ms\", \"Timeout\", \"Err\" (unresolved, unreachable, no route, or "
      "no ICMP socket allowed) or \"SZErr\". Without root, allow ICMP with",
      0, 0, text);
  text +=
      "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
      "or give the program raw sockets with setcap cap_net_raw+ep.\n"
      "\n"
      "Exit status:\n";
  for (const std::string_view status :
       {" 0  if OK, also when requests of a burst failed,",
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one status, cut for the column limit
        " 1  if --report or --export cannot read the history file, finds no history line in "
        "it, or no run has the --run key,",
        " 2  if the command line is wrong,",
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one status, cut for the column limit
        " 3  if HOST was given while another window runs on the same history file (started again "
        "without a host, the program brings that window to the front and exits 0),",
        " 4  if --burst or --trace could not send: no ICMP socket may be opened (no privilege),",
        " 5  if --burst or --trace was given a host whose name does not exist."}) {
    Wrap(status, 0, 4, text);
  }
  text += "\nFull documentation: man trelvane\n";
  return text;
}

}  // namespace trelvane
