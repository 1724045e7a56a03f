#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "history/history_format.h"
#include "history/history_store.h"

namespace trelvane {

// One line of the history file, without its LF and without the CR before it.
struct StoredLine {
  // The line, or its first `max_line_bytes` bytes when it is longer (`whole` false then).
  std::string_view text;
  // Its last kRunKeyLength bytes (all of it when shorter): where a run header keeps its key.
  std::string_view tail;
  bool whole = true;
  // The line had no LF: the last line of the file, cut short (a write was interrupted).
  bool last_and_cut = false;
};

// Reads a history file line by line in a buffer of fixed size, from a given offset. A line longer
// than `max_line_bytes` is passed over in pieces: its head and tail are kept, never the whole line,
// so memory stays bounded whatever the file holds (a 2 GiB file without a line end included).
class LineReader {
 public:
  LineReader(const StoredFile& file, std::uint64_t offset, std::size_t buffer_bytes,
             std::size_t max_line_bytes);

  // The next line; false at the end of the file, or on a read error (then `failed()`).
  bool Next(StoredLine& line) {
    // Most lines are short, whole and end well inside the buffer.
    const char* start = base_ + begin_;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (lf == nullptr) return NextSlow(line);
    auto length = static_cast<std::size_t>(lf - start);
    if (length > 0 && start[length - 1] == '\r') --length;
    if (length > max_line_) return NextSlow(line);
    line.text = std::string_view(start, length);
    line.tail = line.text.substr(length > kRunKeyLength ? length - kRunKeyLength : 0);
    line.whole = true;
    line.last_and_cut = false;
    begin_ = static_cast<std::size_t>(lf - base_) + 1;
    return true;
  }
  // Passes over lines up to the next one that is a run header, which Next then returns;
  // false when there is none. Lines passed over are not looked at beyond their first byte.
  bool SkipToRunHeader();
  // The same, stopping also at a line that begins with "+++++" (a start-up marker, a host line).
  bool SkipToMarkedLine();
  // The file offset of the first byte not yet handed out: the start of a line.
  std::uint64_t offset() const { return file_offset_ + begin_; }
  bool failed() const { return failed_; }

 private:
  bool SkipTo(bool plus_lines_too);
  // Keeps [begin_, end_) and reads more after it; false when nothing more came.
  bool Refill();
  bool NextSlow(StoredLine& line);
  bool NextLong(StoredLine& line, std::size_t line_end);

  static constexpr std::size_t kPageBytes = 4096;
  static constexpr std::size_t kAlignFrom = std::size_t{64} * 1024;

  const StoredFile& file_;
  std::size_t max_line_;
  std::size_t align_;
  std::size_t capacity_;
  std::vector<char> storage_;
  char* base_ = nullptr;       // the buffer: capacity_ bytes of storage_, from a page start
  std::uint64_t file_offset_;  // of base_[0]
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
  std::vector<char> head_;
  std::array<char, kRunKeyLength> tail_{};
};

}  // namespace trelvane
