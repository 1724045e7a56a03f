#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {
namespace {

std::string Count(std::int64_t n) { return std::to_string(n); }

// Without the blanks that end a row whose last columns are empty.
std::string Trimmed(std::string row) {
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}

std::string ResponseText(const ReportFigures& f) {
  return f.median >= 0 ? "médiane " + Count(f.median) + " ms, 95e centile " + Count(f.p95) +
                             " ms, maximum " + Count(f.max) + " ms"
                       : std::string("aucune réponse");
}

}  // namespace

void WriteTextReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
  const ReportFigures figures(report);
  std::fputs("Rapport Trelvane\n", out);
  std::fprintf(out, "Hôte : %s\n", HostsOf(report).c_str());
  std::fprintf(out, "Historique : %s\n", path.c_str());
  std::string asked;
  if (options.since) asked += "depuis le " + IsoDate(*options.since);
  if (options.until)
    asked += std::string(asked.empty() ? "" : ", ") + "jusqu'au " + IsoDate(*options.until);
  if (options.run) asked += std::string(asked.empty() ? "" : ", ") + "run " + Utf8Of(*options.run);
  if (report.measured == 0) {
    std::fprintf(out, "Période : %s\n", asked.empty() ? "tout l'historique" : asked.c_str());
    std::fputs("Aucune mesure dans cette période.\n", out);
    return;
  }
  auto figure = [out](const char* label, const std::string& value) {
    std::fprintf(out, "%s%s\n", PadToWidth(label, 28).c_str(), value.c_str());
  };
  figure("Période :", IsoMinute(report.first.local) + " → " + IsoMinute(report.last.local) +
                          (asked.empty() ? "" : " (" + asked + ")"));
  figure("Minutes mesurées :", Count(report.measured));
  figure("Disponibilité :",
         figures.availability + " % des minutes mesurées (au moins une réponse)");
  figure("Minutes sans perte :", figures.clean + " %");
  figure("Perte moyenne :", figures.mean_loss + " %");
  figure("Temps de réponse :", ResponseText(figures));
  figure("Coupures (perte 100 %) :", Count(static_cast<std::int64_t>(report.outages.size())) +
                                         ", " + MinutesText(OutageMinutes(report)) + " en tout");
  if (const std::optional<StretchRow> longest = LongestOutage(report)) {
    figure("Coupure la plus longue :", IsoMinute(longest->first.local) + " → " +
                                           IsoMinute(longest->last.local) + ", " +
                                           MinutesText(longest->minutes));
  }
  if (const DaySummary* worst = WorstDay(report)) {
    const ReportFigures day(worst->tally);
    figure("Jour le plus mauvais :", IsoDate(worst->date) + ", " + day.availability +
                                         " % disponible, " + Count(worst->tally.outage_minutes) +
                                         " min de coupure, perte moy. " + day.mean_loss + " %");
  }
  const std::vector<StretchRow> episodes = MergedEpisodes(report, options.merge_minutes);
  std::int64_t loss_minutes = 0;
  for (const StretchRow& e : episodes) loss_minutes += e.loss_minutes;
  figure(("Épisodes de perte ≥ " + Count(options.loss_threshold) + " % :").c_str(),
         Count(static_cast<std::int64_t>(episodes.size())) + ", " + MinutesText(loss_minutes) +
             " de perte" +
             (options.merge_minutes > 0 ? " (à moins de " + Count(options.merge_minutes) +
                                              " min l'un de l'autre : un seul)"
                                        : ""));
  std::int64_t missing = 0;
  for (const Gap& g : report.gaps) missing += g.missing_minutes();
  figure("Trous :", Count(static_cast<std::int64_t>(report.gaps.size())) + ", " +
                        MinutesText(missing) + " sans mesure (chacun d'au moins 2 minutes)");

  auto tally_columns = [](const Tally& t) {
    const ReportFigures f(t);
    char row[96];
    std::snprintf(row, sizeof(row), "%8lld  %8s  %7lld  %12s  %7s  %6s",
                  static_cast<long long>(t.measured), f.availability.c_str(),
                  static_cast<long long>(t.outage_minutes), f.mean_loss.c_str(),
                  MsText(f.median).c_str(), MsText(f.p95).c_str());
    return std::string(row);
  };
  const std::string tally_heading = "  Minutes  Dispo. %  Coupure  Perte moy. %  Médiane  95e c.";
  std::fprintf(out, "\nPar jour\n  %s%s\n", PadToWidth("Jour", 10).c_str(), tally_heading.c_str());
  for (const DaySummary& day : report.days) {
    std::fprintf(out, "%s\n",
                 Trimmed("  " + IsoDate(day.date) + "  " + tally_columns(day.tally)).c_str());
  }
  auto table = [&](const std::string& title, const std::vector<StretchRow>& list, const char* first,
                   const char* last, const char* minutes, bool loss_minutes_too) {
    std::fprintf(out, "\n%s : %zu\n", title.c_str(), list.size());
    if (list.empty()) return;
    std::fprintf(out, "  %s  %s  %8s%s  %s\n", PadToWidth(first, 16).c_str(),
                 PadToWidth(last, 16).c_str(), minutes, loss_minutes_too ? "  En perte" : "",
                 "Run");
    for (const StretchRow& s : list) {
      const std::string loss =
          loss_minutes_too
              ? "  " + PadToWidth("", 8 - Count(s.loss_minutes).size()) + Count(s.loss_minutes)
              : "";
      const std::string hop = LastHopText(report, s);
      std::fprintf(out, "  %-16s  %-16s  %8lld%s  %s%s\n", IsoMinute(s.first.local).c_str(),
                   IsoMinute(s.last.local).c_str(), static_cast<long long>(s.minutes), loss.c_str(),
                   Utf8Of(report.runs[s.run].key).c_str(), hop.empty() ? "" : ("  " + hop).c_str());
    }
  };
  table("Coupures (perte 100 %)", RowsOf(report.outages), "Début", "Fin", "Minutes", false);
  if (!options.details) {
    std::fputs("\n« --details » donne aussi chaque run, épisode de perte et trou.\n", out);
    return;
  }
  std::fprintf(out, "\nPar run\n  %s%s\n", PadToWidth("Début du run", 21).c_str(),
               tally_heading.c_str());
  for (const RunSummary& r : report.runs) {
    std::fprintf(
        out, "%s\n",
        Trimmed("  " + PadToWidth(Utf8Of(r.key), 21) + "  " + tally_columns(r.tally)).c_str());
  }

  table("Épisodes de perte (≥ " + Count(options.loss_threshold) + " %)", episodes, "Début", "Fin",
        "Minutes", true);
  table("Trous (au moins 2 minutes sans mesure)", RowsOf(report.gaps), "Avant", "Après", "Manquent",
        false);
}

}  // namespace trelvane
