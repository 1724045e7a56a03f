#include <algorithm>
#include <cstdio>
#include <map>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {
namespace {

constexpr std::size_t kLabelWidth = 24;
constexpr std::size_t kColumnWidth = 22;

bool StartsACharacter(char byte) { return (static_cast<unsigned char>(byte) >> 6) != 2; }

// A value cut to its column (characters, not bytes: hosts and paths may be UTF-8), the column's
// blanks after it.
std::string Cell(const std::string& text) {
  const auto characters =
      static_cast<std::size_t>(std::count_if(text.begin(), text.end(), StartsACharacter));
  if (characters <= kColumnWidth - 2) return PadToWidth(text, kColumnWidth);
  std::size_t kept = 0;
  std::size_t end = 0;
  for (; end < text.size(); ++end) {
    if (StartsACharacter(text[end]) && kept++ == kColumnWidth - 3) break;
  }
  return PadToWidth(text.substr(0, end) + "…", kColumnWidth);
}

void WriteTextSideBySide(const std::vector<HostReport>& reports, std::FILE* out) {
  std::fprintf(out, "Rapport Trelvane : %zu sources côte à côte\n", reports.size());
  auto row = [&](const char* label, auto value_of) {
    std::string line = PadToWidth(label, kLabelWidth);
    for (const HostReport& r : reports) line += Cell(value_of(r));
    line.erase(line.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", line.c_str());
  };
  row("Hôte :", [](const HostReport& r) { return HostText(r.host); });
  row("Historique :", [](const HostReport& r) { return r.file; });
  row("Première mesure :", [](const HostReport& r) {
    return r.report.measured > 0 ? IsoMinute(r.report.first.local) : std::string("-");
  });
  row("Dernière mesure :", [](const HostReport& r) {
    return r.report.measured > 0 ? IsoMinute(r.report.last.local) : std::string("-");
  });
  row("Minutes mesurées :", [](const HostReport& r) { return std::to_string(r.report.measured); });
  row("Disponibilité :",
      [](const HostReport& r) { return ReportFigures(r.report).availability + " %"; });
  row("Minutes sans perte :",
      [](const HostReport& r) { return ReportFigures(r.report).clean + " %"; });
  row("Perte moyenne :",
      [](const HostReport& r) { return ReportFigures(r.report).mean_loss + " %"; });
  row("Médiane, 95e centile :", [](const HostReport& r) {
    const ReportFigures f(r.report);
    return f.median >= 0 ? std::to_string(f.median) + ", " + std::to_string(f.p95) + " ms"
                         : std::string("aucune réponse");
  });
  row("Coupures :", [](const HostReport& r) {
    return std::to_string(r.report.outages.size()) + ", " +
           std::to_string(OutageMinutes(r.report)) + " min";
  });
  row("La plus longue :", [](const HostReport& r) {
    const std::optional<StretchRow> longest = LongestOutage(r.report);
    return longest ? std::to_string(longest->minutes) + " min, " +
                         IsoMinute(longest->first.local).substr(5)
                   : std::string("-");
  });
  row("Jour le plus mauvais :", [](const HostReport& r) {
    const DaySummary* worst = WorstDay(r.report);
    return worst != nullptr ? IsoDate(worst->date) : std::string("-");
  });

  // The days of all of them, each source's availability and outage minutes side by side.
  std::map<std::int64_t, CalendarDate> days;
  for (const HostReport& r : reports) {
    for (const DaySummary& d : r.report.days) days.emplace(MinuteIndex(d.date, 0, 0), d.date);
  }
  std::fputs("\nPar jour : disponibilité %, minutes de coupure\n", out);
  for (const auto& day : days) {
    const CalendarDate date = day.second;  // a copy: a structured binding is no lambda's capture
    std::string line = PadToWidth("  " + IsoDate(date), kLabelWidth);
    for (const HostReport& r : reports) {
      const auto& list = r.report.days;
      const auto at = std::find_if(list.begin(), list.end(),
                                   [&](const DaySummary& d) { return d.date == date; });
      line += Cell(at == list.end() ? std::string("-")
                                    : ReportFigures(at->tally).availability + ", " +
                                          std::to_string(at->tally.outage_minutes));
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", line.c_str());
  }

  std::fputs("\nCoupures (perte 100 %)\n", out);
  for (const HostReport& r : reports) {
    for (const StretchRow& s : RowsOf(r.report.outages)) {
      std::fprintf(out, "  %s  %-16s  %-16s  %8lld  %s\n", Cell(HostText(r.host)).c_str(),
                   IsoMinute(s.first.local).c_str(), IsoMinute(s.last.local).c_str(),
                   static_cast<long long>(s.minutes), Utf8Of(r.report.runs[s.run].key).c_str());
    }
  }
}

}  // namespace

void WriteReports(const std::vector<HostReport>& reports, const ReportOptions& options,
                  ReportFormat format, std::FILE* out) {
  if (format == ReportFormat::kHtml) {
    WriteHtmlReport(reports, options, out);
    return;
  }
  if (format == ReportFormat::kMarkdown) {
    WriteMarkdownReport(reports, out);
    return;
  }
  if (reports.size() == 1) {
    WriteReport(reports[0].report, options, reports[0].file, format, out);
    return;
  }
  switch (format) {
    case ReportFormat::kText:
      WriteTextSideBySide(reports, out);
      return;
    case ReportFormat::kCsv:
      for (std::size_t i = 0; i < reports.size(); ++i) {
        WriteCsvReport(reports[i].report, options, reports[i].file, i == 0, out);
      }
      return;
    case ReportFormat::kHtml:
    case ReportFormat::kMarkdown:
      return;  // above
    case ReportFormat::kJson: {
      std::fputs("{\n  \"schema\": \"trelvane-report/2\",\n  \"sources\": [\n", out);
      for (std::size_t i = 0; i < reports.size(); ++i) {
        if (i > 0) std::fputs(",\n", out);
        WriteJsonObject(reports[i].report, options, reports[i].file, out);
      }
      std::fputs("\n  ]\n}\n", out);
      return;
    }
  }
}

}  // namespace trelvane
