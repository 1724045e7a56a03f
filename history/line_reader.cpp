#include "history/line_reader.h"

#include <algorithm>
#include <cstring>

namespace trelvane {

LineReader::LineReader(const StoredFile& file, std::uint64_t offset, std::size_t buffer_bytes,
                       std::size_t max_line_bytes)
    : file_(file),
      max_line_(std::max(max_line_bytes, kRunKeyLength)),
      // Small buffers (the tests', to put buffer boundaries everywhere) keep no alignment.
      align_(buffer_bytes >= kAlignFrom ? kPageBytes : 1),
      capacity_(std::max(buffer_bytes, max_line_ + 2) + align_ - 1),
      storage_(capacity_ + align_ - 1),
      head_(max_line_) {
  // The buffer starts on a page, and each byte sits at the place in its page that it has in the
  // file's: copies from the page cache then run at full speed (several times faster than with the
  // two out of step).
  const auto misalignment = reinterpret_cast<std::uintptr_t>(storage_.data()) % align_;
  base_ = storage_.data() + (misalignment == 0 ? 0 : align_ - misalignment);
  begin_ = end_ = static_cast<std::size_t>(offset % align_);
  file_offset_ = offset - begin_;
}

bool LineReader::Refill() {
  if (at_end_) return false;
  const auto start = static_cast<std::size_t>((file_offset_ + begin_) % align_);
  if (begin_ != start) {
    std::memmove(base_ + start, base_ + begin_, end_ - begin_);
    file_offset_ = file_offset_ + begin_ - start;
    end_ = start + (end_ - begin_);
    begin_ = start;
  }
  if (end_ == capacity_) return false;
  // Reads end on a page boundary of the file.
  const std::uint64_t at = file_offset_ + end_;
  std::size_t want = capacity_ - end_;
  if (want > align_) want -= (at + want) % align_;
  const std::int64_t got = file_.ReadAt(at, base_ + end_, want);
  if (got <= 0) {
    failed_ = got < 0;
    at_end_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

bool LineReader::NextSlow(StoredLine& line) {
  for (;;) {
    const char* start = base_ + begin_;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    const std::size_t line_end = lf != nullptr ? static_cast<std::size_t>(lf - base_) : end_;
    std::size_t length = line_end - begin_;
    const bool complete = lf != nullptr || at_end_;
    if (length > max_line_ + 1 ||
        (complete && length - (length > 0 && start[length - 1] == '\r') > max_line_)) {
      return NextLong(line, lf != nullptr ? line_end : std::string_view::npos);
    }
    if (!complete) {
      if (!Refill() && failed_) return false;
      continue;
    }
    if (lf == nullptr && length == 0) return false;  // the end of the file
    if (length > 0 && start[length - 1] == '\r') --length;
    line.text = std::string_view(start, length);
    line.tail = line.text.substr(length > kRunKeyLength ? length - kRunKeyLength : 0);
    line.whole = true;
    line.last_and_cut = lf == nullptr;
    begin_ = lf != nullptr ? line_end + 1 : end_;
    return true;
  }
}

bool LineReader::NextLong(StoredLine& line, std::size_t line_end) {
  std::memcpy(head_.data(), base_ + begin_, max_line_);
  // The last bytes of the line, one more than a key for the CR that may end it.
  std::string tail;
  auto keep_tail = [&tail](const char* data, std::size_t size) {
    constexpr std::size_t kKeep = kRunKeyLength + 1;
    if (size >= kKeep) {
      tail.assign(data + size - kKeep, kKeep);
    } else {
      tail.append(data, size);
      if (tail.size() > kKeep) tail.erase(0, tail.size() - kKeep);
    }
  };
  bool cut = false;
  for (;;) {
    if (line_end != std::string_view::npos) {
      keep_tail(base_ + begin_, line_end - begin_);
      begin_ = line_end + 1;
      break;
    }
    keep_tail(base_ + begin_, end_ - begin_);
    begin_ = end_;
    if (!Refill()) {
      if (failed_) return false;
      cut = true;
      break;
    }
    const auto* lf = static_cast<const char*>(std::memchr(base_, '\n', end_));
    if (lf != nullptr) line_end = static_cast<std::size_t>(lf - base_);
  }
  if (!tail.empty() && tail.back() == '\r') tail.pop_back();
  if (tail.size() > kRunKeyLength) tail.erase(0, tail.size() - kRunKeyLength);
  std::memcpy(tail_.data(), tail.data(), tail.size());
  line.text = std::string_view(head_.data(), max_line_);
  line.tail = std::string_view(tail_.data(), tail.size());
  line.whole = false;
  line.last_and_cut = cut;
  return true;
}

bool LineReader::SkipToRunHeader() { return SkipTo(false); }

bool LineReader::SkipToMarkedLine() { return SkipTo(true); }

bool LineReader::SkipTo(bool plus_lines_too) {
  bool line_start = true;  // whether base_[begin_] starts a line
  for (;;) {
    bool need_more = false;  // a line starts with a mark too near the end of the buffer to tell
    // The next '*' and, when asked, the next '+': both are rare in a history.
    const char* star = nullptr;
    const char* plus = nullptr;
    for (std::size_t pos = begin_; pos < end_;) {
      if (star == nullptr || star < base_ + pos) {
        star = static_cast<const char*>(std::memchr(base_ + pos, '*', end_ - pos));
        if (star == nullptr) star = base_ + end_;
      }
      if (plus_lines_too && (plus == nullptr || plus < base_ + pos)) {
        plus = static_cast<const char*>(std::memchr(base_ + pos, '+', end_ - pos));
        if (plus == nullptr) plus = base_ + end_;
      }
      const char* mark = plus_lines_too ? std::min(star, plus) : star;
      if (mark == base_ + end_) break;
      const auto at = static_cast<std::size_t>(mark - base_);
      pos = at + 1;
      if (!(at == begin_ ? line_start : base_[at - 1] == '\n')) continue;
      const std::string_view wanted = *mark == '*' ? kRunHeaderMark : kStartupMark;
      if (end_ - at < wanted.size() && !at_end_) {
        begin_ = at;
        line_start = true;
        need_more = true;
        break;
      }
      if (std::string_view(mark, std::min(end_ - at, wanted.size())) == wanted) {
        begin_ = at;
        return true;
      }
    }
    if (!need_more) {
      // No marked line starts here: drop it all, remembering whether the next byte starts a line.
      if (end_ > begin_) line_start = base_[end_ - 1] == '\n';
      begin_ = end_;
    }
    if (!Refill()) return false;
  }
}

}  // namespace trelvane
