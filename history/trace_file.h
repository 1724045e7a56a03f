#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/history_store.h"

namespace trelvane {

// The traces taken when the link went down or degraded are kept beside the history, never in it:
// trelvane-traces.txt, in the history's folder. Plain text, one block a trace, CR LF line ends,
// Windows-1252 as the history:
//
//   ===== Trace : 07/12/2026-14:05 ; série : 07/12/2026 - 09:15:02 ; adresse : 10.201.2.8 ; hôte :
//   gw
//    1  10.201.1.2  0.050 ms  0.003 ms  0.001 ms
//    2  * * *
//   ===== Fin de la trace
//
// headed by the stamp and run key of the measurement that started it. A block is written whole
// or not at all; a reader takes only whole blocks (heading, at most kMaxHopLines hop lines, end).
inline constexpr std::string_view kTraceFileName = "trelvane-traces.txt";
inline constexpr std::size_t kMaxHopLines = 64;

struct StoredTrace {
  std::string stamp;    // of the measurement that started it, as the history writes it
  std::string run_key;  // "07/12/2026 - 09:15:02"
  std::string address;  // what was traced
  std::string host;     // as typed (in the file: Windows-1252, "?" for what it cannot hold)
  std::vector<std::string> hop_lines;

  struct Hop {
    int number = 0;
    std::string address;
  };
  // The hop furthest out that answered, read from the hop lines; nothing when none did.
  std::optional<Hop> LastAnswering() const;
};

// The traces file in the folder of `history_path`.
std::string TraceFileBeside(const std::string& history_path);

// The block of a trace, as the file holds it.
std::string TraceBlock(const StoredTrace& trace);

// Appends one block, whole or not at all, to a regular file (created when missing).
bool AppendTrace(const std::string& path, const StoredTrace& trace, FileError& error);

// The whole blocks of the file that `keep` keeps, in file order; a block cut short, or lines that
// are none, are passed over. Reads in a buffer of fixed size, whatever the file holds. False when
// the file cannot be read (a missing file is an empty one).
bool ReadTraces(const std::string& path, const std::function<bool(const StoredTrace&)>& keep,
                std::vector<StoredTrace>& traces, FileError& error);

}  // namespace trelvane
