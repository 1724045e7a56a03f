#include "history/history_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "history/block_scanner.h"
#include "history/history_format.h"

namespace trelvane {
namespace {

constexpr std::size_t kRunKeyLength = 21;

bool EndsARun(std::string_view line) {
  return line.empty() || IsRunHeader(line) || IsStartupMarker(line);
}

WriteResult Failure(int error) { return WriteResult{false, std::strerror(error)}; }

// The line [begin, end) of `text` without its CR.
std::string_view Line(std::string_view text, std::size_t begin, std::size_t end) {
  std::string_view line = text.substr(begin, end - begin);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// The start of the first line at or after `pos` that begins with "*****". `pos` and the start of
// `text` are starts of lines. Only run headers hold a '*' in a well-formed file, so the search
// hops from one to the next.
std::size_t FindHeader(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    const std::size_t star = text.find('*', pos);
    if (star == std::string_view::npos) return star;
    if ((star == 0 || text[star - 1] == '\n') && text.substr(star).starts_with(kRunHeaderMark)) {
      return star;
    }
    pos = star + 1;
  }
  return std::string_view::npos;
}

// How much of text[pos, ...) is whole lines: up to and with its last line end.
std::size_t WholeLines(std::string_view text, std::size_t pos) {
  const std::size_t last = text.rfind('\n');
  return last == std::string_view::npos || last < pos ? pos : last + 1;
}

// Cuts a measurement line at every single blank; lines with fewer than three fields are passed
// over, further fields ignored.
void AddMeasurement(std::string_view line, std::vector<Measurement>& measurements) {
  std::string_view fields[3];
  std::size_t count = 0;
  std::size_t start = 0;
  while (count < 3) {
    const std::size_t blank = line.find(' ', start);
    fields[count++] = line.substr(start, blank == std::string_view::npos ? blank : blank - start);
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  if (count == 3) {
    measurements.push_back(
        Measurement{std::string(fields[0]), std::string(fields[1]), std::string(fields[2])});
  }
}

}  // namespace

bool IsRunHeader(std::string_view line) { return line.starts_with(kRunHeaderMark); }

bool IsStartupMarker(std::string_view line) { return line.starts_with(kStartupMark); }

std::string_view RunKey(std::string_view header) {
  return header.size() <= kRunKeyLength ? header : header.substr(header.size() - kRunKeyLength);
}

WriteResult HistoryFile::Append(std::string_view line) const {
  errno = 0;
  std::FILE* file = std::fopen(path_.c_str(), "a+b");
  if (file == nullptr) return Failure(errno != 0 ? errno : EIO);

  std::string out;
  // fseek fails on an empty file: nothing to end then. A last line cut between its CR and its LF
  // only lacks the LF.
  if (std::fseek(file, -1, SEEK_END) == 0) {
    const int last = std::fgetc(file);
    if (last == '\r') out += '\n';
    if (last != '\r' && last != '\n') out += kLineEnd;
  }
  out += line;
  out += kLineEnd;
  std::fseek(file, 0, SEEK_END);  // a write after a read needs a positioning call in between

  errno = 0;
  const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  const bool flushed = std::fflush(file) == 0;
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (written && flushed && closed) return WriteResult{};
  return Failure(error != 0 ? error : (errno != 0 ? errno : EIO));
}

std::optional<std::vector<std::string>> HistoryFile::RunList() const {
  // A run has an entry exactly when the line after its header exists and is a measurement line;
  // the entries are gathered oldest first and turned round at the end.
  std::vector<std::string> entries;
  const bool ok =
      ScanBlocks(path_, block_bytes_, [&](std::string_view text, bool at_end) -> std::size_t {
        std::size_t pos = 0;
        for (;;) {
          const std::size_t header = FindHeader(text, pos);
          if (header == std::string_view::npos) return at_end ? text.size() : WholeLines(text, pos);
          const std::size_t header_end = text.find('\n', header);
          if (header_end == std::string_view::npos) {
            return at_end ? text.size() : header;  // the header is the last line, or comes again
          }
          const std::size_t next = header_end + 1;
          std::size_t next_end = text.find('\n', next);
          if (next_end == std::string_view::npos) {
            if (!at_end) return header;  // its next line is not all here yet
            next_end = text.size();
          }
          if (next < text.size() && !EndsARun(Line(text, next, next_end))) {
            entries.emplace_back(RunKey(Line(text, header, header_end)));
          }
          pos = next;
        }
      });
  if (!ok) return std::nullopt;
  std::reverse(entries.begin(), entries.end());
  return entries;
}

std::optional<std::vector<Measurement>> HistoryFile::Replay(std::string_view key) const {
  std::vector<Measurement> measurements;
  bool in_run = false;
  const bool ok =
      ScanBlocks(path_, block_bytes_, [&](std::string_view text, bool at_end) -> std::size_t {
        std::size_t pos = 0;
        for (;;) {
          if (!in_run) {
            const std::size_t header = FindHeader(text, pos);
            if (header == std::string_view::npos)
              return at_end ? text.size() : WholeLines(text, pos);
            const std::size_t header_end = text.find('\n', header);
            if (header_end == std::string_view::npos) return at_end ? text.size() : header;
            in_run = RunKey(Line(text, header, header_end)) == key;
            pos = header_end + 1;
            continue;
          }
          if (pos >= text.size()) return pos;
          std::size_t end = text.find('\n', pos);
          if (end == std::string_view::npos) {
            if (!at_end) return pos;
            end = text.size();
          }
          const std::string_view line = Line(text, pos, end);
          pos = end + 1;
          if (EndsARun(line)) {
            in_run = false;  // the line that ends a run is not examined again
            continue;
          }
          AddMeasurement(line, measurements);
          if (pos > text.size()) return text.size();
        }
      });
  if (!ok) return std::nullopt;
  return measurements;
}

}  // namespace trelvane
