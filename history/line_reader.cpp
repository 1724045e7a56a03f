#include "history/line_reader.h"

#include <algorithm>
#include <cstring>

namespace trelvane {
namespace {

constexpr std::string_view kRunHeaderMark = "*****";

}  // namespace

LineReader::LineReader(const StoredFile& file, std::uint64_t offset, std::size_t buffer_bytes,
                       std::size_t max_line_bytes)
    : file_(file),
      file_offset_(offset),
      buffer_(std::max(buffer_bytes, std::max(max_line_bytes, kTailBytes) + 2)),
      max_line_(std::max(max_line_bytes, kTailBytes)),
      head_(max_line_) {}

bool LineReader::Refill() {
  if (at_end_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    file_offset_ += begin_;
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) return false;
  const std::int64_t got =
      file_.ReadAt(file_offset_ + end_, buffer_.data() + end_, buffer_.size() - end_);
  if (got <= 0) {
    failed_ = got < 0;
    at_end_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

bool LineReader::Next(StoredLine& line) {
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    const std::size_t line_end =
        lf != nullptr ? static_cast<std::size_t>(lf - buffer_.data()) : end_;
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
    line.tail = line.text.substr(length > kTailBytes ? length - kTailBytes : 0);
    line.whole = true;
    line.last_and_cut = lf == nullptr;
    begin_ = lf != nullptr ? line_end + 1 : end_;
    return true;
  }
}

bool LineReader::NextLong(StoredLine& line, std::size_t line_end) {
  std::memcpy(head_.data(), buffer_.data() + begin_, max_line_);
  // The last bytes of the line, one more than a key for the CR that may end it.
  std::string tail;
  auto keep_tail = [&tail](const char* data, std::size_t size) {
    constexpr std::size_t kKeep = kTailBytes + 1;
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
      keep_tail(buffer_.data() + begin_, line_end - begin_);
      begin_ = line_end + 1;
      break;
    }
    keep_tail(buffer_.data() + begin_, end_ - begin_);
    begin_ = end_;
    if (!Refill()) {
      if (failed_) return false;
      cut = true;
      break;
    }
    const auto* lf = static_cast<const char*>(std::memchr(buffer_.data(), '\n', end_));
    if (lf != nullptr) line_end = static_cast<std::size_t>(lf - buffer_.data());
  }
  if (!tail.empty() && tail.back() == '\r') tail.pop_back();
  if (tail.size() > kTailBytes) tail.erase(0, tail.size() - kTailBytes);
  std::memcpy(tail_.data(), tail.data(), tail.size());
  line.text = std::string_view(head_.data(), max_line_);
  line.tail = std::string_view(tail_.data(), tail.size());
  line.whole = false;
  line.last_and_cut = cut;
  return true;
}

bool LineReader::SkipToRunHeader() {
  bool line_start = true;  // whether buffer_[begin_] starts a line
  for (;;) {
    bool need_more = false;  // a line starts with '*' too near the end of the buffer to tell
    for (std::size_t pos = begin_; pos < end_;) {
      const auto* star =
          static_cast<const char*>(std::memchr(buffer_.data() + pos, '*', end_ - pos));
      if (star == nullptr) break;
      const auto at = static_cast<std::size_t>(star - buffer_.data());
      pos = at + 1;
      if (!(at == begin_ ? line_start : buffer_[at - 1] == '\n')) continue;
      if (end_ - at < kRunHeaderMark.size() && !at_end_) {
        begin_ = at;
        line_start = true;
        need_more = true;
        break;
      }
      if (std::string_view(star, std::min(end_ - at, kRunHeaderMark.size())) == kRunHeaderMark) {
        begin_ = at;
        return true;
      }
    }
    if (!need_more) {
      // No header starts here: drop it all, remembering whether the next byte starts a line.
      if (end_ > begin_) line_start = buffer_[end_ - 1] == '\n';
      begin_ = end_;
    }
    if (!Refill()) return false;
  }
}

}  // namespace trelvane
