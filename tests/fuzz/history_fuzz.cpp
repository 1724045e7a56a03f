// libFuzzer target for the history file's readers and writer: whatever the file holds, the run
// list and the replay agree with a plain line-by-line reading of the file's rules, and an append
// only ever adds to the end of the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../history_reference.h"
#include "history/history_file.h"

namespace {

using namespace trelvane::reference;

std::string Path() {
  static const std::string path = "/tmp/trelvane-fuzz-" + std::to_string(getpid()) + ".txt";
  return path;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out << input;
  }
  // Small blocks put block boundaries everywhere in the input.
  const std::size_t block = size > 0 ? 1 + data[0] % 16 : 1;
  const trelvane::HistoryFile history(Path(), block);
  const auto runs = history.RunList();
  const std::vector<std::string> lines = Lines(input);
  if (!runs || *runs != ReferenceRunList(lines)) std::abort();
  for (const std::string& key : *runs) {
    if (history.Replay(key) != ReferenceReplay(lines, key)) std::abort();
  }
  if (history.Replay("06/12/2026 - 09:15:02") != ReferenceReplay(lines, "06/12/2026 - 09:15:02")) {
    std::abort();
  }

  if (!history.Append("06/12/2026-09:15 0 23").ok) std::abort();
  const std::string after = Contents(Path());
  if (after.compare(0, input.size(), input) != 0) std::abort();  // nothing before the end changes
  if (!after.ends_with("\n06/12/2026-09:15 0 23\r\n") && after != "06/12/2026-09:15 0 23\r\n") {
    std::abort();
  }
  return 0;
}
