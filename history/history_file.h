#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_format.h"
#include "history/history_store.h"
#include "measure/measurement.h"

namespace trelvane {

// What became of an append.
struct WriteResult {
  bool ok = true;
  std::string error;         // why not, for the terminal, when !ok
  std::string error_french;  // the same for the window
  // The file was no longer the one the run's header went to (deleted or replaced): the header was
  // written again before the line, so that the run can still be replayed.
  bool header_written_again = false;
};

// The history file: start-up markers, run headers and measurement lines, one a line, each ended by
// CR LF. The program only ever appends, whole lines only; the readers read in a buffer of fixed
// size and keep nothing open. Only a regular file is used (never a link, a FIFO or a device).
class HistoryFile {
 public:
  static constexpr std::size_t kDefaultBlockBytes = std::size_t{1} << 20;
  // Far longer than any line the program writes; longer lines are passed over.
  static constexpr std::size_t kMaxLineBytes = 4096;

  // The readers take the file in blocks of `block_bytes` and pass over lines longer than
  // `max_line_bytes`.
  explicit HistoryFile(std::string path, std::size_t block_bytes = kDefaultBlockBytes,
                       std::size_t max_line_bytes = kMaxLineBytes)
      : path_(std::move(path)), block_bytes_(block_bytes), max_line_bytes_(max_line_bytes) {}

  const std::string& path() const { return path_; }

  // Opens the file for appending (creating it), writes `line` and CR LF, and closes it. A last line
  // left without its line end (a write cut short by a crash) is ended first, so two records never
  // run together. A write that fails leaves the file exactly as it was.
  WriteResult Append(std::string_view line) const;
  // Appends the header of a new run, after the line naming its host when `host` is not empty (in
  // one write), and remembers the file they went to.
  WriteResult AppendRunHeader(std::string_view header, std::string_view host = {});
  // Appends a measurement line of the run begun last. When the file no longer holds what the run
  // wrote last where it wrote it (deleted, replaced, rotated or cut meanwhile, whatever identity
  // the new file has), the header is written again first.
  WriteResult AppendMeasurement(std::string_view line);

  // The run keys, newest first: one entry per run header whose next line is a measurement line
  // (exists and does not end a run: see EndsARun). Nothing when the
  // file cannot be read. The list is kept from one call to the next, and only what was appended
  // since is read, unless the file no longer holds the bytes last read (cut, replaced, rotated).
  std::optional<std::vector<std::string>> RunList();
  // The host of each run of the last RunList, in the same order, as the file holds it (Windows-
  // 1252): the host line right before its header; empty when there is none.
  const std::vector<std::string>& run_hosts() const { return run_hosts_; }

  // The measurements of every run whose header has the key `key`, in file order. A run's lines end
  // at the first empty line, run header or start-up marker, which is not looked at again. Lines
  // with fewer than three fields, and lines longer than the longest kept, are passed over. Nothing
  // when the file cannot be read.
  std::optional<std::vector<Measurement>> Replay(std::string_view key) const;

  // Why the last read gave nothing.
  const FileError& read_error() const { return read_error_; }

 private:
  // Where the run list stood after the last complete line it read.
  struct RunListState {
    FilePlace read_to;
    std::vector<std::string> entries;    // oldest first
    std::vector<std::string> hosts;      // of each entry
    std::optional<std::string> pending;  // the key of a header whose next line is still to come
    std::string pending_host;
    // The host of the host line read last, and where the line after it begins.
    std::string host;
    std::uint64_t host_until = UINT64_MAX;
  };

  std::optional<StoredFile> OpenToAppend(WriteResult& failure) const;
  // Appends `lines` to the open file, ending a cut last line first; `end` gets where they ended.
  WriteResult AppendTo(StoredFile& file, std::string_view lines,
                       std::optional<FilePlace>* end) const;

  std::string path_;
  std::size_t block_bytes_;
  std::size_t max_line_bytes_;
  std::optional<RunListState> run_list_;
  std::vector<std::string> run_hosts_;
  std::string run_header_;
  std::optional<FilePlace> run_end_;  // where this run's last write ended
  mutable FileError read_error_;
};

}  // namespace trelvane
