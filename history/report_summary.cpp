#include <algorithm>

#include "history/history_report.h"

namespace trelvane {

std::vector<StretchRow> MergedEpisodes(const Report& report, int merge_minutes) {
  std::vector<StretchRow> merged;
  for (const StretchRow& episode : RowsOf(report.episodes)) {
    if (!merged.empty()) {
      StretchRow& last = merged.back();
      const std::int64_t between = episode.first.utc() - last.last.utc() - 1;
      // A gap between the two leaves minutes nobody measured: they stay apart.
      const bool gap_between =
          std::any_of(report.gaps.begin(), report.gaps.end(), [&](const Gap& g) {
            return g.run == last.run && g.before.utc() >= last.last.utc() &&
                   g.after.utc() <= episode.first.utc();
          });
      if (episode.run == last.run && between >= 0 && between < merge_minutes && !gap_between) {
        last.last = episode.last;
        last.minutes = last.last.utc() - last.first.utc() + 1;
        last.loss_minutes += episode.loss_minutes;
        continue;
      }
    }
    merged.push_back(episode);
  }
  return merged;
}

std::optional<StretchRow> LongestOutage(const Report& report) {
  std::optional<StretchRow> longest;
  for (const StretchRow& outage : RowsOf(report.outages)) {
    if (!longest || outage.minutes > longest->minutes) longest = outage;
  }
  return longest;
}

std::int64_t OutageMinutes(const Report& report) {
  std::int64_t minutes = 0;
  for (const MeasuredStretch& outage : report.outages) minutes += outage.minutes();
  return minutes;
}

std::string MinutesText(std::int64_t minutes) {
  return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

std::vector<std::pair<std::string, std::string>> SummaryRows(const Report& report) {
  const ReportFigures f(report);
  std::vector<std::pair<std::string, std::string>> rows = {
      {"Période", IsoMinute(report.first.local) + " → " + IsoMinute(report.last.local)},
      {"Minutes mesurées", std::to_string(report.measured)},
      {"Disponibilité", f.availability + " %"},
      {"Minutes sans perte", f.clean + " %"},
      {"Perte moyenne", f.mean_loss + " %"},
      {"Temps de réponse", f.median >= 0 ? "médiane " + std::to_string(f.median) +
                                               " ms, 95e centile " + std::to_string(f.p95) +
                                               " ms, maximum " + std::to_string(f.max) + " ms"
                                         : std::string("aucune réponse")},
      {"Coupures", std::to_string(report.outages.size()) + ", " +
                       MinutesText(OutageMinutes(report)) + " en tout"}};
  if (const std::optional<StretchRow> longest = LongestOutage(report)) {
    rows.emplace_back("Coupure la plus longue", IsoMinute(longest->first.local) + " → " +
                                                    IsoMinute(longest->last.local) + ", " +
                                                    MinutesText(longest->minutes));
  }
  if (const DaySummary* worst = WorstDay(report)) {
    rows.emplace_back("Jour le plus mauvais",
                      IsoDate(worst->date) + ", " + ReportFigures(worst->tally).availability +
                          " % disponible, " + std::to_string(worst->tally.outage_minutes) +
                          " min de coupure");
  }
  return rows;
}

std::string HostsOf(const Report& report) {
  std::vector<std::string> hosts;
  for (const RunSummary& run : report.runs) {
    if (std::find(hosts.begin(), hosts.end(), run.host) == hosts.end()) hosts.push_back(run.host);
  }
  if (hosts.empty()) return HostText({});
  std::string text;
  for (const std::string& host : hosts) text += (text.empty() ? "" : ", ") + HostText(host);
  return text;
}

const DaySummary* WorstDay(const Report& report) {
  const DaySummary* worst = nullptr;
  // a worse than b: less available (compared as fractions), more outage, more loss on average.
  auto worse = [](const Tally& a, const Tally& b) {
    const std::int64_t available = a.available * b.measured - b.available * a.measured;
    if (available != 0) return available < 0;
    if (a.outage_minutes != b.outage_minutes) return a.outage_minutes > b.outage_minutes;
    return a.loss_sum * b.measured > b.loss_sum * a.measured;
  };
  for (const DaySummary& day : report.days) {
    if (day.tally.measured > 0 && (worst == nullptr || worse(day.tally, worst->tally))) {
      worst = &day;
    }
  }
  return worst;
}

}  // namespace trelvane
