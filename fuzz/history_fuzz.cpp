// libFuzzer target for the history file's readers and writer: whatever the file holds, the run
// list and the replay agree with a plain line-by-line reading of the file's rules, the report and
// the export agree with each other, and an append only ever adds to the end of the file.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "history/history_file.h"
#include "history/history_report.h"
#include "history/history_survey.h"
#include "history_reference.h"

namespace {

using namespace trelvane::reference;

std::string Path() {
  static const std::string path = "/tmp/trelvane-fuzz-" + std::to_string(getpid()) + ".txt";
  return path;
}

// Where the formatted reports go: nowhere.
std::FILE* Sink() {
  static std::FILE* null = std::fopen("/dev/null", "w");
  return null;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out << input;
  }
  // Small blocks put block boundaries everywhere in the input, and a short longest line sends many
  // lines through the bounded reader's passing-over.
  const std::size_t max_line = size > 1 ? 21 + data[1] % 48 : 21;
  const std::size_t block = max_line + 2 + (size > 0 ? data[0] % 16 : 0);
  trelvane::HistoryFile history(Path(), block, max_line);
  const std::vector<std::string> lines = Lines(input);
  const auto runs = history.RunList();
  if (!runs || *runs != RunList(lines) || history.run_hosts() != RunHosts(lines, max_line)) {
    std::abort();
  }
  for (const std::string& key : *runs) {
    if (history.Replay(key) != Replay(lines, key, max_line)) std::abort();
  }

  // The report reader takes the same file: no crash whatever it holds, and its counts agree with
  // the export's rows and with its own runs.
  trelvane::ReportOptions options;
  options.block_bytes = block;
  options.max_line_bytes = max_line;
  trelvane::Report report;
  trelvane::FileError error;
  if (!trelvane::BuildReport(Path(), options, report, error)) std::abort();
  std::int64_t in_runs = 0;
  for (const auto& run : report.runs) in_runs += run.tally.measured;
  if (in_runs != report.measured || report.available > report.measured) std::abort();
  // The export as CSV (a heading row) or JSON lines, chosen by the input: as many rows as the
  // report counts, and as many as it says it wrote.
  const bool json = size > 2 && data[2] % 2 == 1;
  char* exported = nullptr;
  std::size_t exported_size = 0;
  std::size_t said_rows = 0;
  std::FILE* sink = open_memstream(&exported, &exported_size);
  if (sink == nullptr ||
      !trelvane::ExportMeasurements(
          Path(), options, json ? trelvane::ReportFormat::kJson : trelvane::ReportFormat::kCsv,
          sink, error, &said_rows)) {
    std::abort();
  }
  std::fclose(sink);
  const auto rows = std::count(exported, exported + exported_size, '\n') - (json ? 0 : 1);
  std::free(exported);
  if (rows != report.measured || static_cast<std::int64_t>(said_rows) != rows) std::abort();

  // What an empty report looks at: every run header's key, and whether the file is a history.
  trelvane::HistorySurvey survey;
  if (!trelvane::SurveyHistory(Path(), survey, error, block, max_line)) std::abort();
  if (survey.run_keys.size() < runs->size() || (!runs->empty() && !survey.holds_history)) {
    std::abort();
  }
  for (const auto format :
       {trelvane::ReportFormat::kText, trelvane::ReportFormat::kCsv, trelvane::ReportFormat::kJson,
        trelvane::ReportFormat::kHtml, trelvane::ReportFormat::kMarkdown}) {
    trelvane::WriteReport(report, {}, Path(), format, Sink());
  }

  if (!history.Append("06/12/2026-09:15 0 23").ok) std::abort();
  const std::string after = Contents(Path());
  if (after.compare(0, input.size(), input) != 0) std::abort();  // nothing before the end changes
  if (!after.ends_with("\n06/12/2026-09:15 0 23\r\n") && after != "06/12/2026-09:15 0 23\r\n") {
    std::abort();
  }
  // The run list kept from before reads only what was appended, and agrees with a fresh reading.
  if (history.RunList() != RunList(Lines(after))) std::abort();
  return 0;
}
