#include <algorithm>
#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteJsonReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
  std::fputs(JsonReport(report, options, path).c_str(), out);
}

std::string JsonReport(const Report& report, const ReportOptions& options,
                       const std::string& path) {
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
  auto stretch = [&](const StretchRow& s, const char* first, const char* last, const char* minutes,
                     bool loss_minutes) {
    return std::string("{\"") + first + "\": \"" + IsoMinuteWithOffset(s.first) + "\", \"" + last +
           "\": \"" + IsoMinuteWithOffset(s.last) + "\", \"" + minutes +
           "\": " + std::to_string(s.minutes) +
           (loss_minutes ? ", \"loss_minutes\": " + std::to_string(s.loss_minutes) : "") +
           ", \"run\": " + JsonString(report.runs[s.run].key) + "}";
  };
  auto stretches = [&](const std::vector<StretchRow>& list, const char* first, const char* last,
                       const char* minutes, bool loss_minutes) {
    std::string text = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
      text += (i > 0 ? ",\n    " : "\n    ") + stretch(list[i], first, last, minutes, loss_minutes);
    }
    return text + (list.empty() ? "]" : "\n  ]");
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
  std::string text = "{\n  \"schema\": \"trelvane-report/2\",\n";
  text += "  \"file\": " + JsonString(path) + ",\n";
  // Each host once, null for runs the file names none for.
  std::vector<std::string> hosts;
  for (const RunSummary& r : report.runs) {
    if (std::find(hosts.begin(), hosts.end(), r.host) == hosts.end()) hosts.push_back(r.host);
  }
  text += "  \"hosts\": [";
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    text += (i > 0 ? ", " : "") + null_or(Utf8Of(hosts[i]));
  }
  text += "],\n";
  text += "  \"since\": " + null_or(since) + ",\n  \"until\": " + null_or(until) +
          ",\n  \"run\": " + null_or(options.run.value_or("")) + ",\n";
  text += "  \"loss_threshold_percent\": " + std::to_string(options.loss_threshold) + ",\n";
  text += "  \"merge_minutes\": " + std::to_string(options.merge_minutes) + ",\n";
  text += "  \"runs\": [";
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSummary& r = report.runs[i];
    text += (i > 0 ? ",\n    {" : "\n    {");
    text += "\"key\": " + JsonString(r.key) + ", \"host\": " + null_or(Utf8Of(r.host)) +
            ", \"first\": \"" + IsoMinuteWithOffset(r.first) + "\", \"last\": \"" +
            IsoMinuteWithOffset(r.last) + "\", " + tally(r.tally) + "}";
  }
  text += report.runs.empty() ? "],\n" : "\n  ],\n";
  text += "  \"days\": [";
  for (std::size_t i = 0; i < report.days.size(); ++i) {
    const DaySummary& d = report.days[i];
    text += (i > 0 ? ",\n    {" : "\n    {");
    text += "\"date\": \"" + IsoDate(d.date) + "\", " + tally(d.tally) + "}";
  }
  text += report.days.empty() ? "],\n" : "\n  ],\n";
  text += "  \"total\": {\"first\": " +
          null_or(report.measured > 0 ? IsoMinuteWithOffset(report.first) : "") +
          ", \"last\": " + null_or(report.measured > 0 ? IsoMinuteWithOffset(report.last) : "") +
          ", \"minutes\": " + std::to_string(report.measured) + "},\n";
  text += "  \"availability_percent\": " + figures.availability + ",\n";
  text += "  \"clean_percent\": " + figures.clean + ",\n";
  text += "  \"mean_loss_percent\": " + figures.mean_loss + ",\n";
  text += "  \"response_ms\": {\"median\": " + number_or_null(MsText(figures.median)) +
          ", \"p95\": " + number_or_null(MsText(figures.p95)) +
          ", \"max\": " + number_or_null(MsText(figures.max)) + "},\n";
  text += "  \"outage_minutes\": " + std::to_string(OutageMinutes(report)) + ",\n";
  const std::optional<StretchRow> longest = LongestOutage(report);
  text += "  \"longest_outage\": " +
          (longest ? stretch(*longest, "first", "last", "minutes", false) : std::string("null")) +
          ",\n";
  const DaySummary* worst = WorstDay(report);
  text += "  \"worst_day\": " + null_or(worst != nullptr ? IsoDate(worst->date) : "") + ",\n";
  text += "  \"outages\": " + stretches(RowsOf(report.outages), "first", "last", "minutes", false) +
          ",\n";
  text +=
      "  \"loss_episodes\": " +
      stretches(MergedEpisodes(report, options.merge_minutes), "first", "last", "minutes", true) +
      ",\n";
  text +=
      "  \"gaps\": " + stretches(RowsOf(report.gaps), "before", "after", "missing_minutes", false) +
      "\n}\n";
  return text;
}

}  // namespace trelvane
