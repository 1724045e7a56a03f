#include "history/history_format.h"

namespace trelvane {

std::string StartupMarker(const LocalTime& now, Separators separators) {
  return "++++++++++ D\xE9marrage de l'application : " + FormatDate(now, separators.date) + " - " +
         FormatTime(now, separators.time);
}

std::string RunHeader(const LocalTime& now, Separators separators) {
  return "***** " + FormatDate(now, separators.date) + " - " + FormatTime(now, separators.time);
}

}  // namespace trelvane
