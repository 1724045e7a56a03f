#include "history/trace_file.h"

#include <cerrno>
#include <cstdlib>

#include "history/history_format.h"
#include "history/line_reader.h"

namespace trelvane {
namespace {

// The heading's parts; "é" and "ô" the single bytes of Windows-1252.
constexpr std::string_view kHeading = "===== Trace : ";
constexpr std::string_view kRunPart = " ; s\xE9rie : ";
constexpr std::string_view kAddressPart = " ; adresse : ";
constexpr std::string_view kHostPart = " ; h\xF4te : ";
constexpr std::string_view kEnd = "===== Fin de la trace";
constexpr std::size_t kBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kMaxLineBytes = 1024;

// What lies between `from` and `to` in `line`, from `at` on; nothing when either is missing.
std::optional<std::string_view> Between(std::string_view line, std::size_t& at,
                                        std::string_view from, std::string_view to) {
  if (line.compare(at, from.size(), from) != 0) return std::nullopt;
  const std::size_t start = at + from.size();
  const std::size_t end = to.empty() ? line.size() : line.find(to, start);
  if (end == std::string_view::npos) return std::nullopt;
  at = end;
  return line.substr(start, end - start);
}

std::optional<StoredTrace> ReadHeading(std::string_view line) {
  StoredTrace trace;
  std::size_t at = 0;
  const auto stamp = Between(line, at, kHeading, kRunPart);
  const auto run = stamp ? Between(line, at, kRunPart, kAddressPart) : std::nullopt;
  const auto address = run ? Between(line, at, kAddressPart, kHostPart) : std::nullopt;
  const auto host = address ? Between(line, at, kHostPart, {}) : std::nullopt;
  if (!host) return std::nullopt;
  trace.stamp = std::string(*stamp);
  trace.run_key = std::string(*run);
  trace.address = std::string(*address);
  trace.host = std::string(*host);
  return trace;
}

// Without line ends, and no longer than a line the reader keeps whole.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text.substr(0, kMaxLineBytes / 2)) {
    line += (c == '\r' || c == '\n') ? '?' : c;
  }
  return line;
}

}  // namespace

std::optional<StoredTrace::Hop> StoredTrace::LastAnswering() const {
  std::optional<Hop> last;
  for (const std::string& line : hop_lines) {
    // " 3  10.201.1.2  0.512 ms ...": the number, then '*' or the address.
    const std::size_t number_start = line.find_first_not_of(' ');
    if (number_start == std::string::npos) continue;
    char* end = nullptr;
    const long number = std::strtol(line.c_str() + number_start, &end, 10);
    if (end == line.c_str() + number_start || number < 1 || number > 255) continue;
    auto at = static_cast<std::size_t>(end - line.c_str());
    while (at < line.size()) {
      const std::size_t start = line.find_first_not_of(' ', at);
      if (start == std::string::npos) break;
      const std::size_t stop = std::min(line.find(' ', start), line.size());
      const std::string_view word(line.data() + start, stop - start);
      at = stop;
      if (word == "*") continue;
      last = Hop{static_cast<int>(number), std::string(word)};
      break;
    }
  }
  return last;
}

std::string TraceFileBeside(const std::string& history_path) {
  const std::size_t slash = history_path.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : history_path.substr(0, slash + 1)) +
         std::string(kTraceFileName);
}

std::string TraceBlock(const StoredTrace& trace) {
  // The host as a host line holds it: Windows-1252, "?" for what it cannot.
  const std::string host = HostLine(trace.host).substr(HostLine("").size());
  std::string block = std::string(kHeading) + OneLine(trace.stamp) + std::string(kRunPart) +
                      OneLine(trace.run_key) + std::string(kAddressPart) + OneLine(trace.address) +
                      std::string(kHostPart) + OneLine(host) + "\r\n";
  for (std::size_t i = 0; i < trace.hop_lines.size() && i < kMaxHopLines; ++i) {
    block += OneLine(trace.hop_lines[i]) + "\r\n";
  }
  return block + std::string(kEnd) + "\r\n";
}

bool AppendTrace(const std::string& path, const StoredTrace& trace, FileError& error) {
  std::optional<StoredFile> file = StoredFile::OpenForAppending(path, error);
  return file && file->AppendAll(TraceBlock(trace), error);
}

bool ReadTraces(const std::string& path, const std::function<bool(const StoredTrace&)>& keep,
                std::vector<StoredTrace>& traces, FileError& error) {
  traces.clear();
  std::optional<StoredFile> file = StoredFile::OpenForReading(path, error);
  if (!file) return error.kind == FileError::Kind::kSystem && error.error_number == ENOENT;
  LineReader reader(*file, 0, kBlockBytes, kMaxLineBytes);
  StoredLine line;
  std::optional<StoredTrace> open;  // the block being read
  while (reader.Next(line)) {
    if (line.whole && line.text.starts_with(kHeading)) {
      open = ReadHeading(line.text);  // a heading without an end before it starts again
      continue;
    }
    if (!open) continue;
    if (line.whole && line.text == kEnd && !line.last_and_cut) {
      if (keep(*open)) traces.push_back(std::move(*open));
      open.reset();
    } else if (!line.whole || open->hop_lines.size() >= kMaxHopLines) {
      open.reset();  // no block of ours
    } else {
      open->hop_lines.emplace_back(line.text);
    }
  }
  if (reader.failed()) {
    error = FileError{FileError::Kind::kSystem, EIO};
    return false;
  }
  return true;
}

}  // namespace trelvane
