// The history readers on a file that has grown for ten years: one measurement a minute, one run a
// day (about 5.3 million lines). Times the run-list rebuild and the replay of a run near the end
// against `grep -c '^\*\*\*\*\*'` on the same file, in the same run.
//
// Usage: history_bench FILE          (FILE is created when it does not exist, and gains lines)
//        history_bench --scan FILE   (any file: a copy of it is best, it gains lines)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "history/history_file.h"
#include "history/history_format.h"
#include "measure/clock.h"
#include "measure/measurement.h"

namespace {

using Steady = std::chrono::steady_clock;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Ten years of days from 01/01/2017, each a program start, a run at 00:00:05 and 1,440 lines.
std::string Generate(const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::string last_key;
  std::string block;
  std::uint32_t noise = 1;
  for (int y = 2017; y < 2027; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysIn(y, m); ++d) {
        block.clear();
        const trelvane::LocalTime start{y, m, d, 0, 0, 1};
        block += trelvane::StartupMarker(start) + "\r\n";
        const trelvane::LocalTime run{y, m, d, 0, 0, 5};
        block += trelvane::RunHeader(run) + "\r\n";
        last_key = trelvane::FormatDate(run) + " - " + trelvane::FormatTime(run);
        for (int minute = 0; minute < 1440; ++minute) {
          noise = noise * 1664525u + 1013904223u;
          const trelvane::LocalTime t{y, m, d, minute / 60, minute % 60, 0};
          block += trelvane::MeasurementLine({trelvane::FormatStamp(t),
                                              std::to_string((noise >> 8) % 5 == 0 ? 4 : 0),
                                              std::to_string(18 + (noise >> 16) % 9)});
          block += "\r\n";
        }
        std::fwrite(block.data(), 1, block.size(), out);
      }
    }
  }
  std::fclose(out);
  return last_key;
}

template <typename F>
double MedianMs(F&& run, int times = 5) {
  std::vector<double> ms;
  for (int i = 0; i < times; ++i) {
    const auto start = Steady::now();
    run();
    ms.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// The figures of one file: the full run list (start-up), the run list after one more line
// (Stop: only the appended bytes are read), a replay, and the peak memory.
void Measure(const std::string& path, bool with_grep) {
  trelvane::HistoryFile history(path);
  std::size_t runs = 0;
  std::string key = "none";
  double grep_ms = 0;
  if (with_grep) {
    grep_ms = MedianMs([&] {
      const std::string command = "grep -c '^\\*\\*\\*\\*\\*' '" + path + "' | cat > /dev/null";
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "grep failed\n");
    });
  }
  const double list_ms = MedianMs([&] {
    trelvane::HistoryFile fresh(path);
    const auto list = fresh.RunList();
    runs = list ? list->size() : 0;
    if (list && list->size() > 7) key = (*list)[7];  // a week before the end
  });
  history.RunList();
  const double stop_ms = MedianMs([&] {
    if (!history.Append("01/01/2027-00:00 0 20").ok) std::fprintf(stderr, "append failed\n");
    history.RunList();
  });
  std::size_t loaded = 0;
  const double replay_ms = MedianMs(
      [&] { loaded = history.Replay(key).value_or(std::vector<trelvane::Measurement>{}).size(); });

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("file: %s, %.1f MB\n", path.c_str(), std::filesystem::file_size(path) / 1e6);
  if (with_grep) std::printf("grep -c '^*****':               %8.1f ms\n", grep_ms);
  std::printf("run list from scratch (start-up): %8.1f ms (%zu runs)\n", list_ms, runs);
  std::printf("run list after one line (Stop):   %8.3f ms\n", stop_ms);
  std::printf("replay of %s:     %8.1f ms (%zu measurements)\n", key.c_str(), replay_ms, loaded);
  std::printf("peak resident memory of this process: %ld kB\n", usage.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--scan") {
    Measure(argv[2], false);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: history_bench FILE | --scan FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  if (!std::filesystem::exists(path)) {
    const auto start = Steady::now();
    Generate(path);
    std::printf("generated %s in %.1f s\n", path.c_str(),
                std::chrono::duration<double>(Steady::now() - start).count());
  }
  Measure(path, true);
  return 0;
}
