#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteCsvReport(const Report& report, std::FILE* out) {
  const ReportFigures figures(report);
  std::fputs("section,run,first,last,minutes,value\r\n", out);
  for (const RunSummary& r : report.runs) {
    std::fprintf(out, "run,%s,%s,%s,%lld,\r\n", CsvField(r.key).c_str(),
                 IsoMinuteWithOffset(r.first).c_str(), IsoMinuteWithOffset(r.last).c_str(),
                 static_cast<long long>(r.measured));
  }
  if (report.measured > 0) {
    std::fprintf(out, "total,,%s,%s,%lld,\r\n", IsoMinuteWithOffset(report.first).c_str(),
                 IsoMinuteWithOffset(report.last).c_str(), static_cast<long long>(report.measured));
  } else {
    std::fputs("total,,,,0,\r\n", out);
  }
  std::fprintf(out, "availability_percent,,,,,%s\r\n", figures.availability.c_str());
  std::fprintf(out, "clean_percent,,,,,%s\r\n", figures.clean.c_str());
  std::fprintf(out, "mean_loss_percent,,,,,%s\r\n", figures.mean_loss.c_str());
  std::fprintf(out, "response_median_ms,,,,,%s\r\n", MsText(figures.median).c_str());
  std::fprintf(out, "response_p95_ms,,,,,%s\r\n", MsText(figures.p95).c_str());
  std::fprintf(out, "response_max_ms,,,,,%s\r\n", MsText(figures.max).c_str());
  auto rows = [&](const char* section, const std::vector<StretchRow>& list) {
    for (const StretchRow& s : list) {
      std::fprintf(out, "%s,,%s,%s,%lld,\r\n", section, IsoMinuteWithOffset(s.first).c_str(),
                   IsoMinuteWithOffset(s.last).c_str(), static_cast<long long>(s.minutes));
    }
  };
  rows("outage", RowsOf(report.outages));
  rows("loss_episode", RowsOf(report.episodes));
  rows("gap", RowsOf(report.gaps));
}

}  // namespace trelvane
