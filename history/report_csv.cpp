#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteCsvReport(const Report& report, const ReportOptions& options, const std::string& path,
                    bool heading, std::FILE* out) {
  if (heading) {
    std::fputs(
        "file,host,section,run,day,first,last,minutes,availability_percent,clean_percent,"
        "mean_loss_percent,outage_minutes,response_median_ms,response_p95_ms,loss_minutes,"
        "value,last_hop,last_hop_address\r\n",
        out);
  }
  // Every row starts with the file and the host: the run's, or the report's hosts.
  const std::string file = CsvField(path) + ",";
  const std::string hosts = file + CsvField(HostsOf(report)) + ",";
  auto source = [&](std::size_t run) {
    return file + CsvField(HostText(report.runs[run].host)) + ",";
  };
  // The figures of a run, a day or the whole: from minutes to the 95th percentile.
  auto figures = [](std::int64_t measured, std::int64_t outage_minutes, const ReportFigures& f) {
    return std::to_string(measured) + "," + f.availability + "," + f.clean + "," + f.mean_loss +
           "," + std::to_string(outage_minutes) + "," + MsText(f.median) + "," + MsText(f.p95);
  };
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSummary& r = report.runs[i];
    std::fprintf(out, "%srun,%s,,%s,%s,%s,,,,\r\n", source(i).c_str(), CsvField(r.key).c_str(),
                 IsoMinuteWithOffset(r.first).c_str(), IsoMinuteWithOffset(r.last).c_str(),
                 figures(r.tally.measured, r.tally.outage_minutes, ReportFigures(r.tally)).c_str());
  }
  for (const DaySummary& d : report.days) {
    std::fprintf(out, "%sday,,%s,,,%s,,,,\r\n", hosts.c_str(), IsoDate(d.date).c_str(),
                 figures(d.tally.measured, d.tally.outage_minutes, ReportFigures(d.tally)).c_str());
  }
  const ReportFigures total(report);
  std::fprintf(out, "%stotal,,,%s,%s,%s,,,,\r\n", hosts.c_str(),
               report.measured > 0 ? IsoMinuteWithOffset(report.first).c_str() : "",
               report.measured > 0 ? IsoMinuteWithOffset(report.last).c_str() : "",
               figures(report.measured, OutageMinutes(report), total).c_str());
  auto value = [&](const char* name, const std::string& text) {
    std::fprintf(out, "%s%s,,,,,,,,,,,,,%s,,\r\n", hosts.c_str(), name, text.c_str());
  };
  value("response_max_ms", MsText(total.max));
  if (const DaySummary* worst = WorstDay(report)) value("worst_day", IsoDate(worst->date));
  value("loss_threshold_percent", std::to_string(options.loss_threshold));
  value("merge_minutes", std::to_string(options.merge_minutes));
  auto rows = [&](const char* section, const std::vector<StretchRow>& list, bool loss_minutes) {
    for (const StretchRow& s : list) {
      // An outage's trace: the last hop that answered, its number and address.
      std::string hop = ",";
      if (s.trace) {
        if (const auto last = report.traces[*s.trace].LastAnswering()) {
          hop = std::to_string(last->number) + "," + CsvField(last->address);
        }
      }
      std::fprintf(out, "%s%s,%s,,%s,%s,%lld,,,,,,,%s,,%s\r\n", source(s.run).c_str(), section,
                   CsvField(report.runs[s.run].key).c_str(), IsoMinuteWithOffset(s.first).c_str(),
                   IsoMinuteWithOffset(s.last).c_str(), static_cast<long long>(s.minutes),
                   loss_minutes ? std::to_string(s.loss_minutes).c_str() : "", hop.c_str());
    }
  };
  rows("outage", RowsOf(report.outages), false);
  rows("loss_episode", MergedEpisodes(report, options.merge_minutes), true);
  rows("gap", RowsOf(report.gaps), false);
}

}  // namespace trelvane
