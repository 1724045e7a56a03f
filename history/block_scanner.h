#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace trelvane {

// Reads a file in large blocks and hands them to `on_block(text, at_end)`, which returns how many
// bytes of `text` it has used; the unused rest comes back at the start of the next call, followed
// by more of the file. Callers use whole lines only, so every block starts at the start of a line.
// At the end of the file `at_end` is true and `text` holds all that is left. A rest that fills the
// whole buffer makes it grow. Returns false when the file cannot be opened or read.
template <typename OnBlock>
bool ScanBlocks(const std::string& path, std::size_t block_bytes, OnBlock&& on_block) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<char> buffer(block_bytes > 0 ? block_bytes : 1);
  std::size_t kept = 0;
  bool ok = true;
  for (;;) {
    if (kept == buffer.size()) buffer.resize(buffer.size() * 2);
    const std::size_t got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, file);
    if (got == 0) {
      ok = std::ferror(file) == 0;
      if (ok) on_block(std::string_view(buffer.data(), kept), true);
      break;
    }
    const std::size_t size = kept + got;
    const std::size_t used = on_block(std::string_view(buffer.data(), size), false);
    kept = size - used;
    if (kept > 0 && used > 0) std::memmove(buffer.data(), buffer.data() + used, kept);
  }
  std::fclose(file);
  return ok;
}

}  // namespace trelvane
