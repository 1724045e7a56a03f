#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {
namespace {

// Text for an HTML page: <, >, & and quotes escaped, in UTF-8.
std::string Html(std::string_view text) {
  std::string out;
  for (const char c : Utf8Of(text)) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The colours of the page, also what the tests look for in its picture.
constexpr const char* kUp = "#2e9d48";      // available and clean
constexpr const char* kLoss = "#f0a000";    // some loss
constexpr const char* kOutage = "#d01818";  // loss 100
constexpr const char* kResponse = "#1f5fbf";

// One day's minutes: loss (-1: not measured) and response time.
struct DayMinutes {
  std::array<std::int16_t, 1440> loss;
  std::array<int, 1440> response_ms{};
  DayMinutes() { loss.fill(-1); }
};

// The day's strip: measured minutes, loss as bars from the bottom (outages whole and red), the
// response time's 5-minute maxima as a line on a logarithmic scale from 1 ms to 2 s.
std::string DayStrip(const DayMinutes& day) {
  constexpr int kHeight = 36;
  std::string svg =
      "<svg class=\"strip\" width=\"720\" height=\"36\" viewBox=\"0 0 1440 36\" "
      "preserveAspectRatio=\"none\" role=\"img\">";
  auto rect = [&](int from, int to, int height, const char* colour) {
    svg += "<rect x=\"" + std::to_string(from) + "\" y=\"" + std::to_string(kHeight - height) +
           "\" width=\"" + std::to_string(to - from) + "\" height=\"" + std::to_string(height) +
           "\" fill=\"" + colour + "\"/>";
  };
  // Runs of minutes with the same look, one rectangle each.
  for (int m = 0; m < 1440;) {
    const int loss = day.loss[static_cast<std::size_t>(m)];
    int end = m + 1;
    while (end < 1440 && day.loss[static_cast<std::size_t>(end)] == loss) ++end;
    if (loss == 0) rect(m, end, 4, kUp);
    if (loss > 0 && loss < 100) rect(m, end, std::max(4, loss * kHeight / 100), kLoss);
    if (loss == 100) rect(m, end, kHeight, kOutage);
    m = end;
  }
  std::string line;
  for (int bucket = 0; bucket < 288; ++bucket) {
    int worst = -1;
    for (int m = bucket * 5; m < bucket * 5 + 5; ++m) {
      const auto at = static_cast<std::size_t>(m);
      if (day.loss[at] >= 0 && day.loss[at] < 100) worst = std::max(worst, day.response_ms[at]);
    }
    if (worst < 0) continue;
    const double scale = std::log10(std::clamp(worst, 1, 2000)) / std::log10(2000.0);
    const int y = kHeight - 1 - static_cast<int>(scale * (kHeight - 2));
    line += (line.empty() ? "M" : " L") + std::to_string(bucket * 5 + 2) + " " + std::to_string(y);
  }
  if (!line.empty()) {
    svg += "<path d=\"" + line + "\" fill=\"none\" stroke=\"" + kResponse +
           "\" stroke-width=\"2\" vector-effect=\"non-scaling-stroke\"/>";
  }
  return svg + "</svg>";
}

// One bar per day: its height the day's measured share of the day, green, with the loss minutes
// in orange and the outage minutes in red on top (at least 3 px when there are any).
std::string DayBars(const Report& report) {
  constexpr int kWidth = 14;
  constexpr int kHeight = 60;
  const auto days = static_cast<int>(report.days.size());
  std::string svg = "<svg class=\"bars\" width=\"" + std::to_string(days * kWidth) +
                    "\" height=\"" + std::to_string(kHeight) + "\" role=\"img\">";
  for (int i = 0; i < days; ++i) {
    const Tally& t = report.days[static_cast<std::size_t>(i)].tally;
    const int x = i * kWidth + 1;
    auto rect = [&](int y, int height, const char* colour) {
      svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(kWidth - 2) + "\" height=\"" + std::to_string(height) + "\" fill=\"" +
             colour + "\"/>";
    };
    const int measured = std::max<int>(6, static_cast<int>(t.measured * kHeight / 1440));
    const std::int64_t lossy = t.measured - t.clean - t.outage_minutes;
    const int outage =
        t.outage_minutes > 0
            ? std::max<int>(3, static_cast<int>(t.outage_minutes * measured / t.measured))
            : 0;
    const int loss =
        lossy > 0 ? std::max<int>(3, static_cast<int>(lossy * measured / t.measured)) : 0;
    rect(kHeight - measured, measured, kUp);
    if (loss > 0) rect(kHeight - measured + outage, std::min(loss, measured - outage), kLoss);
    if (outage > 0) rect(kHeight - measured, std::min(outage, measured), kOutage);
  }
  return svg + "</svg>";
}

void WriteSource(const HostReport& source, const ReportOptions& options, std::FILE* out) {
  const Report& report = source.report;
  std::fprintf(out, "<section>\n<h2>%s <small>%s</small></h2>\n", Html(HostsOf(report)).c_str(),
               Html(source.file).c_str());
  if (report.measured == 0) {
    std::fputs("<p>Aucune mesure dans cette période.</p>\n</section>\n", out);
    return;
  }
  std::fputs("<table class=\"summary\">\n", out);
  for (const auto& [label, value] : SummaryRows(report)) {
    std::fprintf(out, "<tr><th>%s</th><td>%s</td></tr>\n", Html(label).c_str(),
                 Html(value).c_str());
  }
  std::fputs("</table>\n<h3>Disponibilité par jour</h3>\n", out);
  std::fprintf(out, "%s\n", DayBars(report).c_str());
  std::fputs(
      "<p class=\"legend\"><span class=\"up\">■</span> mesuré sans perte "
      "<span class=\"loss\">■</span> pertes <span class=\"outage\">■</span> coupures</p>\n",
      out);

  // The strips: the file read again, one day of minutes at a time in memory per day met.
  std::map<std::int64_t, DayMinutes> minutes;
  FileError error;
  bool wanted = false;  // the run is one of the report's (its host's, or any when it holds all)
  ForEachMeasurement(
      source.file, options, error,
      [&](const std::string& key, const std::string& host) {
        wanted = std::any_of(report.runs.begin(), report.runs.end(),
                             [&](const RunSummary& r) { return r.key == key && r.host == host; });
      },
      [&](const StoredMeasurement& m) {
        if (!wanted) return;
        const std::int64_t day = m.minute >= 0 ? m.minute / 1440 : (m.minute - 1439) / 1440;
        DayMinutes& d = minutes[day];
        const auto at = static_cast<std::size_t>(m.minute - day * 1440);
        d.loss[at] = static_cast<std::int16_t>(m.loss);
        d.response_ms[at] = m.response_ms;
      });
  std::fputs("<h3>Minute par minute</h3>\n<table class=\"strips\">\n", out);
  for (const auto& [day, d] : minutes) {
    std::fprintf(out, "<tr><th>%s</th><td>%s</td></tr>\n", IsoDate(CivilFromDays(day)).c_str(),
                 DayStrip(d).c_str());
  }
  std::fputs("</table>\n", out);

  std::fprintf(out, "<h3>Coupures (perte 100 %%) : %zu</h3>\n", report.outages.size());
  if (!report.outages.empty()) {
    std::fputs(
        "<table class=\"rows\"><tr><th>Début</th><th>Fin</th><th>Minutes</th><th>Run</th>"
        "<th>Trace</th></tr>\n",
        out);
    for (const StretchRow& s : RowsOf(report.outages)) {
      std::fprintf(out, "<tr><td>%s</td><td>%s</td><td>%lld</td><td>%s</td><td>%s</td></tr>\n",
                   IsoMinuteWithOffset(s.first).c_str(), IsoMinuteWithOffset(s.last).c_str(),
                   static_cast<long long>(s.minutes), Html(report.runs[s.run].key).c_str(),
                   Html(LastHopText(report, s)).c_str());
      // The trace itself, under its outage.
      if (s.trace) {
        const StoredTrace& trace = report.traces[*s.trace];
        std::string lines = "trace " + Utf8Of(trace.address) + ", " + trace.stamp + "\n";
        for (const std::string& hop : trace.hop_lines) lines += Utf8Of(hop) + "\n";
        std::fprintf(out, "<tr><td colspan=\"5\"><pre class=\"trace\">%s</pre></td></tr>\n",
                     Html(lines).c_str());
      }
    }
    std::fputs("</table>\n", out);
  }
  std::fputs("</section>\n", out);
}

}  // namespace

void WriteHtmlReport(const std::vector<HostReport>& reports, const ReportOptions& options,
                     std::FILE* out) {
  std::string hosts;
  std::string period;
  for (const HostReport& r : reports) {
    hosts += (hosts.empty() ? "" : ", ") + HostText(r.host);
    if (r.report.measured > 0 && period.empty()) {
      period = IsoDate(CivilFromDays(r.report.first.local / 1440)) + " – " +
               IsoDate(CivilFromDays(r.report.last.local / 1440));
    }
  }
  const std::string title = "Rapport Trelvane : " + hosts + (period.empty() ? "" : ", " + period);
  std::fprintf(out,
               "<!DOCTYPE html>\n<html lang=\"fr\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title>%s</title>\n<style>\n"
               "body { font-family: sans-serif; margin: 1.5em; color: #222; }\n"
               "table { border-collapse: collapse; margin: 0.5em 0; }\n"
               "th, td { text-align: left; padding: 2px 10px 2px 0; vertical-align: middle; }\n"
               "table.rows td, table.rows th { border-bottom: 1px solid #ddd; }\n"
               "svg.strip { background: #eee; display: block; }\n"
               "svg.bars { background: #eee; display: block; }\n"
               ".up { color: %s; } .loss { color: %s; } .outage { color: %s; }\n"
               "h2 small { color: #777; font-weight: normal; }\n"
               "</style>\n</head>\n<body>\n<h1>%s</h1>\n",
               Html(title).c_str(), kUp, kLoss, kOutage, Html(title).c_str());
  for (const HostReport& r : reports) WriteSource(r, options, out);
  std::fputs("</body>\n</html>\n", out);
}

}  // namespace trelvane
