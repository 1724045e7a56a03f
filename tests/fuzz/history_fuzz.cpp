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
  // Small blocks put block boundaries everywhere in the input, and a short longest line sends many
  // lines through the bounded reader's passing-over.
  const std::size_t max_line = size > 1 ? 21 + data[1] % 48 : 21;
  const std::size_t block = max_line + 2 + (size > 0 ? data[0] % 16 : 0);
  trelvane::HistoryFile history(Path(), block, max_line);
  const std::vector<std::string> lines = Lines(input);
  const std::vector<std::string> expected = ReferenceRunList(lines);
  const auto runs = history.RunList();
  if (!runs || *runs != expected) std::abort();
  for (const std::string& key : *runs) {
    if (history.Replay(key) != ReferenceReplay(lines, key, max_line)) std::abort();
  }
  if (history.Replay("06/12/2026 - 09:15:02") !=
      ReferenceReplay(lines, "06/12/2026 - 09:15:02", max_line)) {
    std::abort();
  }

  if (!history.Append("06/12/2026-09:15 0 23").ok) std::abort();
  const std::string after = Contents(Path());
  if (after.compare(0, input.size(), input) != 0) std::abort();  // nothing before the end changes
  if (!after.ends_with("\n06/12/2026-09:15 0 23\r\n") && after != "06/12/2026-09:15 0 23\r\n") {
    std::abort();
  }
  // The run list kept from before reads only what was appended, and agrees with a fresh reading.
  if (history.RunList() != ReferenceRunList(Lines(after))) std::abort();
  return 0;
}
