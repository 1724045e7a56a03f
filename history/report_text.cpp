#include <cstdio>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {

void WriteTextReport(const Report& report, const ReportOptions& options, const std::string& path,
                     std::FILE* out) {
  const ReportFigures figures(report);
  const std::string since = options.since ? IsoDate(*options.since) : "";
  const std::string until = options.until ? IsoDate(*options.until) : "";
  std::fprintf(out, "Historique : %s\n", path.c_str());
  std::fprintf(out, "Période : %s – %s%s%s\n", since.empty() ? "début" : since.c_str(),
               until.empty() ? "fin" : until.c_str(), options.run ? ", run " : "",
               options.run ? Utf8Of(*options.run).c_str() : "");
  if (report.measured == 0) {
    std::fputs("Aucune mesure dans cette période.\n", out);
    return;
  }
  std::fputs("\nRuns\n", out);
  std::fprintf(out, "  %s  %s  %s  %8s\n", PadToWidth("Début du run", 21).c_str(),
               PadToWidth("Première mesure", 16).c_str(), PadToWidth("Dernière mesure", 16).c_str(),
               "Minutes");
  for (const RunSummary& r : report.runs) {
    std::fprintf(out, "  %s  %-16s  %-16s  %8lld\n", PadToWidth(Utf8Of(r.key), 21).c_str(),
                 IsoMinute(r.first.local).c_str(), IsoMinute(r.last.local).c_str(),
                 static_cast<long long>(r.measured));
  }
  std::fprintf(out, "  %-21s  %-16s  %-16s  %8lld\n", "Total",
               IsoMinute(report.first.local).c_str(), IsoMinute(report.last.local).c_str(),
               static_cast<long long>(report.measured));
  std::fputs("\n", out);
  auto figure = [out](const char* label, const std::string& value) {
    std::fprintf(out, "%s%s\n", PadToWidth(label, 28).c_str(), value.c_str());
  };
  figure("Disponibilité :",
         figures.availability + " % des minutes mesurées (au moins une réponse)");
  figure("Minutes sans perte :", figures.clean + " %");
  figure("Perte moyenne :", figures.mean_loss + " %");
  figure("Temps de réponse :", figures.median >= 0
                                   ? "médiane " + std::to_string(figures.median) +
                                         " ms, 95e centile " + std::to_string(figures.p95) +
                                         " ms, maximum " + std::to_string(figures.max) + " ms"
                                   : std::string("aucune réponse"));
  auto table = [&](const std::string& title, const std::vector<StretchRow>& list, const char* first,
                   const char* last, const char* minutes) {
    std::fprintf(out, "\n%s : %zu\n", title.c_str(), list.size());
    if (list.empty()) return;
    std::fprintf(out, "  %s  %s  %8s\n", PadToWidth(first, 16).c_str(),
                 PadToWidth(last, 16).c_str(), minutes);
    for (const StretchRow& s : list) {
      std::fprintf(out, "  %-16s  %-16s  %8lld\n", IsoMinute(s.first.local).c_str(),
                   IsoMinute(s.last.local).c_str(), static_cast<long long>(s.minutes));
    }
  };
  table("Coupures (perte 100 %)", RowsOf(report.outages), "Début", "Fin", "Minutes");
  table("Épisodes de perte (≥ " + std::to_string(options.loss_threshold) + " %)",
        RowsOf(report.episodes), "Début", "Fin", "Minutes");
  table("Trous (plus de 2 minutes sans mesure)", RowsOf(report.gaps), "Avant", "Après", "Manquent");
}

}  // namespace trelvane
