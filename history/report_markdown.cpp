#include <cstdio>
#include <string>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {
namespace {

// A table cell's text: "|" escaped, in UTF-8.
std::string Cell(std::string_view text) {
  std::string out;
  for (const char c : Utf8Of(text)) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

void WriteSource(const HostReport& source, std::FILE* out) {
  const Report& report = source.report;
  std::fprintf(out, "## %s\n\nHistorique : `%s`\n\n", Cell(HostsOf(report)).c_str(),
               Cell(source.file).c_str());
  if (report.measured == 0) {
    std::fputs("Aucune mesure dans cette période.\n\n", out);
    return;
  }
  std::fputs("| | |\n|---|---|\n", out);
  for (const auto& [label, value] : SummaryRows(report)) {
    std::fprintf(out, "| %s | %s |\n", label.c_str(), Cell(value).c_str());
  }
  std::fputs(
      "\n| Jour | Minutes | Dispo. % | Coupure | Perte moy. % | Médiane ms | 95e c. ms |\n"
      "|---|--:|--:|--:|--:|--:|--:|\n",
      out);
  for (const DaySummary& d : report.days) {
    const ReportFigures day(d.tally);
    std::fprintf(out, "| %s | %lld | %s | %lld | %s | %s | %s |\n", IsoDate(d.date).c_str(),
                 static_cast<long long>(d.tally.measured), day.availability.c_str(),
                 static_cast<long long>(d.tally.outage_minutes), day.mean_loss.c_str(),
                 MsText(day.median).c_str(), MsText(day.p95).c_str());
  }
  std::fprintf(out, "\n### Coupures (perte 100 %%) : %zu\n\n", report.outages.size());
  if (report.outages.empty()) return;
  std::fputs("| Début | Fin | Minutes | Run | Trace |\n|---|---|--:|---|---|\n", out);
  for (const StretchRow& s : RowsOf(report.outages)) {
    std::fprintf(out, "| %s | %s | %lld | %s | %s |\n", IsoMinute(s.first.local).c_str(),
                 IsoMinute(s.last.local).c_str(), static_cast<long long>(s.minutes),
                 Cell(report.runs[s.run].key).c_str(), Cell(LastHopText(report, s)).c_str());
  }
  std::fputs("\n", out);
}

}  // namespace

void WriteMarkdownReport(const std::vector<HostReport>& reports, std::FILE* out) {
  std::fputs("# Rapport Trelvane\n\n", out);
  for (const HostReport& r : reports) WriteSource(r, out);
}

}  // namespace trelvane
