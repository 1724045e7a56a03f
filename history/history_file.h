#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measure/measurement.h"

namespace trelvane {

// What became of an append.
struct WriteResult {
  bool ok = true;
  std::string error;  // why not, from the system, when !ok
};

// The history file: start-up markers, run headers and measurement lines, one a line, each ended by
// CR LF. The program only ever appends; the readers read the whole file and keep nothing open.
class HistoryFile {
 public:
  // The readers take the file in blocks of `block_bytes` (a line longer than that still reads).
  explicit HistoryFile(std::string path, std::size_t block_bytes = kDefaultBlockBytes)
      : path_(std::move(path)), block_bytes_(block_bytes) {}

  static constexpr std::size_t kDefaultBlockBytes = std::size_t{1} << 20;

  const std::string& path() const { return path_; }

  // Opens the file for appending (creating it), writes `line` and CR LF, and closes it. A last line
  // left without its line end (a write cut short by a crash) is ended first, so two records never
  // run together. Nothing already in the file is changed.
  WriteResult Append(std::string_view line) const;

  // The run keys, newest first: one entry per run header whose next line is a measurement line
  // (exists, is not empty, and begins neither with "*****" nor with "+++++"). Nothing when the
  // file cannot be read.
  std::optional<std::vector<std::string>> RunList() const;

  // The measurements of every run whose header has the key `key`, in file order. A run's lines end
  // at the first empty line, run header or start-up marker, which is not looked at again. Lines
  // with fewer than three fields are passed over. Nothing when the file cannot be read.
  std::optional<std::vector<Measurement>> Replay(std::string_view key) const;

 private:
  std::string path_;
  std::size_t block_bytes_;
};

// The key of a run header: its last 21 characters, or the whole line when it is shorter.
std::string_view RunKey(std::string_view header);
bool IsRunHeader(std::string_view line);
bool IsStartupMarker(std::string_view line);

}  // namespace trelvane
