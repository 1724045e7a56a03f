#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteJsonReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
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
  auto stretches = [&](const std::vector<StretchRow>& list, const char* first, const char* last,
                       const char* minutes) {
    std::string text = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
      const StretchRow& s = list[i];
      text += (i > 0 ? ",\n    {" : "\n    {");
      text += std::string("\"") + first + "\": \"" + IsoMinuteWithOffset(s.first) + "\", \"" +
              last + "\": \"" + IsoMinuteWithOffset(s.last) + "\", \"" + minutes +
              "\": " + std::to_string(s.minutes) + "}";
    }
    return text + (list.empty() ? "]" : "\n  ]");
  };
  std::string text = "{\n  \"schema\": \"trelvane-report/1\",\n";
  text += "  \"file\": " + JsonString(path) + ",\n";
  text += "  \"since\": " + null_or(since) + ",\n  \"until\": " + null_or(until) +
          ",\n  \"run\": " + null_or(options.run.value_or("")) + ",\n";
  text += "  \"loss_threshold_percent\": " + std::to_string(options.loss_threshold) + ",\n";
  text += "  \"runs\": [";
  for (std::size_t i = 0; i < report.runs.size(); ++i) {
    const RunSummary& r = report.runs[i];
    text += (i > 0 ? ",\n    {" : "\n    {");
    text += "\"key\": " + JsonString(r.key) + ", \"first\": \"" + IsoMinuteWithOffset(r.first) +
            "\", \"last\": \"" + IsoMinuteWithOffset(r.last) +
            "\", \"minutes\": " + std::to_string(r.measured) + "}";
  }
  text += report.runs.empty() ? "],\n" : "\n  ],\n";
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
  text += "  \"outages\": " + stretches(RowsOf(report.outages), "first", "last", "minutes") + ",\n";
  text += "  \"loss_episodes\": " + stretches(RowsOf(report.episodes), "first", "last", "minutes") +
          ",\n";
  text += "  \"gaps\": " + stretches(RowsOf(report.gaps), "before", "after", "missing_minutes") +
          "\n}\n";
  std::fputs(text.c_str(), out);
}

}  // namespace trelvane
