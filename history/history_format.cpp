#include "history/history_format.h"

namespace trelvane {

std::string StartupMarker(const LocalTime& now) {
  return "++++++++++ D\xE9marrage de l'application : " + FormatDate(now) + " - " + FormatTime(now);
}

std::string RunHeader(const LocalTime& now) {
  return "***** " + FormatDate(now) + " - " + FormatTime(now);
}

}  // namespace trelvane
