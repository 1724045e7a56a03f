#include <algorithm>
#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteJsonReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
  WriteJsonObject(report, options, path, out);
  std::fputs("\n", out);
}

void WriteJsonObject(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
  // Written as it goes: a run's or a day's row at a time, whatever the period.
  auto put = [out](const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); };
  const ReportFigures figures(report);
  const std::string since = options.since ? IsoDate(*options.since) : "";
  const std::string until = options.until ? IsoDate(*options.until) : "";
  // A string, or null when empty.
  auto null_or = [](const std::string& text) {
    return text.empty() ? std::string("null") : JsonString(text);
  };
  // A number, or null when empty.
  auto number_or_null = [](const std::string& text) {
    return text.empty() ? std::string("null") : text;
  };
  // An outage's trace: the last hop that answered (null when none did); nothing without a trace.
  auto LastHop = [&](const StretchRow& s) -> std::string {
    if (!s.trace) return "";
    const std::optional<StoredTrace::Hop> hop = report.traces[*s.trace].LastAnswering();
    return ", \"last_hop\": " + (hop ? "{\"hop\": " + std::to_string(hop->number) +
                                           ", \"address\": " + JsonString(hop->address) + "}"
                                     : std::string("null"));
  };
  auto stretch = [&](const StretchRow& s, const char* first, const char* last, const char* minutes,
                     bool loss_minutes) {
    return std::string("{\"") + first + "\": \"" + IsoMinuteWithOffset(s.first) + "\", \"" + last +
           "\": \"" + IsoMinuteWithOffset(s.last) + "\", \"" + minutes +
           "\": " + std::to_string(s.minutes) +
           (loss_minutes ? ", \"loss_minutes\": " + std::to_string(s.loss_minutes) : "") +
           ", \"run\": " + JsonString(report.runs[s.run].key) + LastHop(s) + "}";
  };
  auto stretches = [&](const std::vector<StretchRow>& list, const char* first, const char* last,
                       const char* minutes, bool loss_minutes) {
    put("[");
    for (std::size_t i = 0; i < list.size(); ++i) {
      put((i > 0 ? ",\n    " : "\n    ") + stretch(list[i], first, last, minutes, loss_minutes));
    }
    put(list.empty() ? "]" : "\n  ]");
  };
  // The figures of a run or a day.
  auto tally = [&](const Tally& t) {
    const ReportFigures f(t);
    return "\"minutes\": " + std::to_string(t.measured) +
           ", \"availability_percent\": " + f.availability + ", \"clean_percent\": " + f.clean +
           ", \"mean_loss_percent\": " + f.mean_loss +
           ", \"outage_minutes\": " + std::to_string(t.outage_minutes) +
           ", \"response_ms\": {\"median\": " + number_or_null(MsText(f.median)) +
           ", \"p95\": " + number_or_null(MsText(f.p95)) +
           ", \"max\": " + number_or_null(MsText(f.max)) + "}";
  };
  put("{\n  \"schema\": \"trelvane-report/2\",\n");
  put("  \"file\": " + JsonString(path) + ",\n");
  // Each host once, null for runs the file names none for.
  std::vector<std::string> hosts;
  for (const RunSummary& r : report.runs) {
    if (std::find(hosts.begin(), hosts.end(), r.host) == hosts.end()) hosts.push_back(r.host);
  }
  put("  \"hosts\": [");
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    put((i > 0 ? ", " : "") + null_or(Utf8Of(hosts[i])));
  }
  put("],\n");
  put("  \"since\": " + null_or(since) + ",\n  \"until\": " + null_or(until) +
      ",\n  \"run\": " + null_or(options.run.value_or("")) + ",\n");
  put("  \"loss_threshold_percent\": " + std::to_string(options.loss_threshold) + ",\n");
  put("  \"merge_minutes\": " + std::to_string(options.merge_minutes) + ",\n");
  put("  \"runs\": [");
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSummary& r = report.runs[i];
    put((i > 0 ? ",\n    {" : "\n    {"));
    put("\"key\": " + JsonString(r.key) + ", \"host\": " + null_or(Utf8Of(r.host)) +
        ", \"first\": \"" + IsoMinuteWithOffset(r.first) + "\", \"last\": \"" +
        IsoMinuteWithOffset(r.last) + "\", " + tally(r.tally) + "}");
  }
  put(report.runs.empty() ? "],\n" : "\n  ],\n");
  put("  \"days\": [");
  for (std::size_t i = 0; i < report.days.size(); ++i) {
    const DaySummary& d = report.days[i];
    put((i > 0 ? ",\n    {" : "\n    {"));
    put("\"date\": \"" + IsoDate(d.date) + "\", " + tally(d.tally) + "}");
  }
  put(report.days.empty() ? "],\n" : "\n  ],\n");
  put("  \"total\": {\"first\": " +
      null_or(report.measured > 0 ? IsoMinuteWithOffset(report.first) : "") +
      ", \"last\": " + null_or(report.measured > 0 ? IsoMinuteWithOffset(report.last) : "") +
      ", \"minutes\": " + std::to_string(report.measured) + "},\n");
  put("  \"availability_percent\": " + figures.availability + ",\n");
  put("  \"clean_percent\": " + figures.clean + ",\n");
  put("  \"mean_loss_percent\": " + figures.mean_loss + ",\n");
  put("  \"response_ms\": {\"median\": " + number_or_null(MsText(figures.median)) +
      ", \"p95\": " + number_or_null(MsText(figures.p95)) +
      ", \"max\": " + number_or_null(MsText(figures.max)) + "},\n");
  put("  \"outage_minutes\": " + std::to_string(OutageMinutes(report)) + ",\n");
  const std::optional<StretchRow> longest = LongestOutage(report);
  put("  \"longest_outage\": " +
      (longest ? stretch(*longest, "first", "last", "minutes", false) : std::string("null")) +
      ",\n");
  const DaySummary* worst = WorstDay(report);
  put("  \"worst_day\": " + null_or(worst != nullptr ? IsoDate(worst->date) : "") + ",\n");
  put("  \"outages\": ");
  stretches(RowsOf(report.outages), "first", "last", "minutes", false);
  put(",\n  \"loss_episodes\": ");
  stretches(MergedEpisodes(report, options.merge_minutes), "first", "last", "minutes", true);
  put(",\n  \"gaps\": ");
  stretches(RowsOf(report.gaps), "before", "after", "missing_minutes", false);
  put("\n}");
}

}  // namespace trelvane
