#include "history/history_file.h"

#include <algorithm>
#include <cerrno>

#include "history/history_format.h"
#include "history/history_location.h"
#include "history/line_reader.h"

namespace trelvane {
namespace {

WriteResult Failure(const FileError& error) {
  return WriteResult{false, DescribeError(error), DescribeErrorFrench(error), false};
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

std::optional<StoredFile> HistoryFile::OpenToAppend(WriteResult& failure) const {
  FileError error;
  std::optional<StoredFile> file = StoredFile::OpenForAppending(path_, error);
  if (!file && error.kind == FileError::Kind::kSystem && error.error_number == ENOENT &&
      MakeFolderFor(path_)) {
    file =
        StoredFile::OpenForAppending(path_, error);  // its folder was missing: made on first write
  }
  if (!file) failure = Failure(error);
  return file;
}

WriteResult HistoryFile::AppendTo(StoredFile& file, std::string_view lines,
                                  std::optional<FilePlace>* end) const {
  std::string out;
  // A last line cut between its CR and its LF only lacks the LF; one cut anywhere else lacks both.
  char last = '\n';
  if (file.size() > 0 && file.ReadAt(file.size() - 1, &last, 1) == 1) {
    if (last == '\r') out += '\n';
    if (last != '\r' && last != '\n') out += kLineEnd;
  }
  out += lines;
  FileError error;
  if (!file.AppendAll(out, error)) return Failure(error);
  if (end != nullptr) *end = FilePlace::In(file, file.size());
  return WriteResult{};
}

WriteResult HistoryFile::Append(std::string_view line) const {
  WriteResult result;
  std::optional<StoredFile> file = OpenToAppend(result);
  if (!file) return result;
  return AppendTo(*file, std::string(line) + std::string(kLineEnd), nullptr);
}

WriteResult HistoryFile::AppendRunHeader(std::string_view header, std::string_view host) {
  run_header_ = host.empty() ? std::string(header)
                             : HostLine(host) + std::string(kLineEnd) + std::string(header);
  run_end_.reset();
  WriteResult result;
  std::optional<StoredFile> file = OpenToAppend(result);
  if (!file) return result;
  return AppendTo(*file, run_header_ + std::string(kLineEnd), &run_end_);
}

WriteResult HistoryFile::AppendMeasurement(std::string_view line) {
  WriteResult result;
  std::optional<StoredFile> file = OpenToAppend(result);
  if (!file) return result;
  // The file still holds what this run wrote last, where it wrote it; else it is another file (or
  // the same one cut short) and the run begins again in it with its header.
  const bool again = !run_header_.empty() && (!run_end_ || !run_end_->HeldBy(*file));
  std::string out;
  if (again) out = run_header_ + std::string(kLineEnd);
  out += line;
  out += kLineEnd;
  std::optional<FilePlace> end;
  result = AppendTo(*file, out, &end);
  if (result.ok) {
    run_end_ = std::move(end);
    result.header_written_again = again;
  }
  return result;
}

std::optional<std::vector<std::string>> HistoryFile::RunList() {
  std::optional<StoredFile> file = StoredFile::OpenForReading(path_, read_error_);
  if (!file) {
    run_list_.reset();
    run_hosts_.clear();
    return std::nullopt;
  }
  if (!run_list_ || !run_list_->read_to.HeldBy(*file)) {
    // A new file, or one cut short or rewritten: read it all again.
    run_list_ =
        RunListState{FilePlace{file->id(), 0, {}}, {}, {}, std::nullopt, {}, {}, UINT64_MAX};
  }
  RunListState& state = *run_list_;
  std::uint64_t offset = state.read_to.offset;
  LineReader reader(*file, state.read_to.offset, block_bytes_, max_line_bytes_);
  std::optional<std::string> last_cut_entry;  // from a last line still without its line end
  StoredLine line;
  // A header's host: the host line ending right where the header begins.
  auto header_at = [&](std::uint64_t header_offset) {
    state.pending = std::string(line.tail);
    state.pending_host = header_offset == state.host_until ? state.host : std::string();
  };
  for (;;) {
    if (state.pending) {
      // The line right after a header decides whether the header's run has an entry.
      const std::uint64_t line_offset = reader.offset();
      if (!reader.Next(line)) break;  // the header is the last line, for now
      if (line.last_and_cut) {
        if (!EndsARun(line.text)) last_cut_entry = state.pending;
        break;
      }
      if (!EndsARun(line.text)) {
        state.entries.push_back(*state.pending);
        state.hosts.push_back(state.pending_host);
      }
      state.pending.reset();
      if (IsRunHeader(line.text)) header_at(line_offset);
      if (const std::optional<std::string_view> host = HostOfLine(line.text)) {
        state.host = std::string(*host);
        state.host_until = reader.offset();
      }
      offset = reader.offset();
      continue;
    }
    if (!reader.SkipToMarkedLine()) {
      if (!reader.failed()) offset = reader.offset();
      break;
    }
    const std::uint64_t line_offset = reader.offset();
    if (!reader.Next(line) || line.last_and_cut) break;  // a header as the cut last line: no entry
    if (IsRunHeader(line.text)) {
      header_at(line_offset);
    } else if (const std::optional<std::string_view> host = HostOfLine(line.text)) {
      state.host = std::string(*host);
      state.host_until = reader.offset();
    }
    offset = reader.offset();
  }
  std::optional<FilePlace> read_to;
  if (!reader.failed()) read_to = FilePlace::In(*file, offset);
  if (!read_to) {
    read_error_ = FileError{FileError::Kind::kSystem, EIO};
    run_list_.reset();
    return std::nullopt;
  }
  state.read_to = std::move(*read_to);
  std::vector<std::string> runs;
  runs.reserve(state.entries.size() + 1);
  run_hosts_.clear();
  if (last_cut_entry) {
    runs.push_back(*last_cut_entry);
    run_hosts_.push_back(state.pending_host);
  }
  runs.insert(runs.end(), state.entries.rbegin(), state.entries.rend());
  run_hosts_.insert(run_hosts_.end(), state.hosts.rbegin(), state.hosts.rend());
  return runs;
}

std::optional<std::vector<Measurement>> HistoryFile::Replay(std::string_view key) const {
  std::optional<StoredFile> file = StoredFile::OpenForReading(path_, read_error_);
  if (!file) return std::nullopt;
  LineReader reader(*file, 0, block_bytes_, max_line_bytes_);
  std::vector<Measurement> measurements;
  StoredLine line;
  while (reader.SkipToRunHeader() && reader.Next(line)) {
    if (line.tail != key) continue;
    // The run's lines, up to the line that ends it, which is not looked at again.
    while (reader.Next(line) && !EndsARun(line.text)) {
      if (line.whole) AddMeasurement(line.text, measurements);
    }
  }
  if (reader.failed()) {
    read_error_ = FileError{FileError::Kind::kSystem, EIO};
    return std::nullopt;
  }
  return measurements;
}

}  // namespace trelvane
