#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history/history_file.h"
#include "history/history_format.h"
#include "history/history_location.h"
#include "history_fixture.h"

namespace trelvane {
namespace {

namespace fs = std::filesystem;
using Runs = std::vector<std::string>;
using Measurements = std::vector<Measurement>;

class HistoryTest : public testing::HistoryFileTest {
 protected:
  HistoryFile history() const { return HistoryFile(path_); }
};

const std::string kMarker = "++++++++++ D\xE9marrage de l'application : 06/12/2026 - 09:14:58";
const std::string kRunA = "***** 06/12/2026 - 09:15:02";
const std::string kRunB = "***** 06/12/2026 - 14:02:11";
const std::string kRunC = "***** 07/12/2026 - 08:00:00";
const std::string kA = "06/12/2026 - 09:15:02", kB = "06/12/2026 - 14:02:11",
                  kC = "07/12/2026 - 08:00:00";

TEST_F(HistoryTest, RunListIsNewestFirstAndLeavesOutRunsWithoutMeasurement) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    Runs runs;
  } cases[] = {
      {"designed example",
       {kMarker, kRunA, "06/12/2026-09:15 0 23", "06/12/2026-09:16 4 25", kMarker, kRunB},
       {kA}},
      {"only runs stopped before their first measurement", {kMarker, kRunA, kMarker, kRunB}, {}},
      {"three runs", {kRunA, "a 1 2", kRunB, "b 1 2", kMarker, kRunC, "c 1 2"}, {kC, kB, kA}},
      {"header right after header", {kRunA, kRunB, "b 1 2"}, {kB}},
      {"header followed by an empty line", {kRunA, "", "a 1 2", kRunB, "b 1 2"}, {kB}},
      {"header followed by a marker", {kRunA, kMarker, "x 1 2"}, {}},
      {"duplicate keys, once per header", {kRunA, "a 1 2", kMarker, kRunA, "a 3 4"}, {kA, kA}},
      {"short header keeps the whole line", {"*****x", "1 2 3"}, {"*****x"}},
      {"any other line is a measurement", {kRunA, "garbage"}, {kA}},
      {"a mark inside a line begins no run", {"x " + kRunA, "a 1 2", kRunB, "b 1 2"}, {kB}},
      {"marker's last 21 characters are no run", {kMarker, "06/12/2026-09:15 0 23"}, {}},
      {"empty file", {}, {}},
  };
  for (const auto& c : cases) {
    for (const char* end : {"\r\n", "\n"}) {
      Write(c.lines, end);
      EXPECT_EQ(history().RunList().value(), c.runs) << c.name << (end[1] ? " (CR LF)" : " (LF)");
    }
  }
}

TEST_F(HistoryTest, ReplayTakesEveryRunWithTheKeyUpToTheLineThatEndsIt) {
  Write({kMarker, kRunA, "06/12/2026-09:15 0 23 extra fields", "short line", "x  5",
         "06/12/2026-09:17 100 2000", kMarker, "06/12/2026-09:18 9 9", kRunB, "b 1 2", kRunA,
         "a 1 1", kRunA, "a 2 2", "", kRunA, "a 3 3"});
  // Fields are cut at every blank (two blanks: an empty field); shorter lines are passed over; a
  // header that ends a run is not examined again, even with the same key.
  EXPECT_EQ(history().Replay(kA).value(), (Measurements{{"06/12/2026-09:15", "0", "23"},
                                                        {"x", "", "5"},
                                                        {"06/12/2026-09:17", "100", "2000"},
                                                        {"a", "1", "1"},
                                                        {"a", "3", "3"}}));
  EXPECT_TRUE(history().Replay("01/01/2000 - 00:00:00").value().empty());
  EXPECT_TRUE(history().Replay("").value().empty());
  fs::remove(path_);
  EXPECT_FALSE(history().RunList().has_value());
  EXPECT_FALSE(history().Replay(kA).has_value());
}

TEST_F(HistoryTest, AppendAddsCrLfLinesAndEndsATornLastLineFirst) {
  ASSERT_TRUE(history().Append(StartupMarker(LocalTime{2026, 12, 6, 9, 14, 58})).ok);
  EXPECT_EQ(Contents(), kMarker + "\r\n");
  const struct {
    std::string before, after, first_response;
  } cases[] = {
      {kRunA + "\r\n06/12/2026-09:15 0 2", kRunA + "\r\n06/12/2026-09:15 0 2\r\nx 1 9\r\n", "2"},
      // Cut between its CR and its LF: only the LF is missing.
      {kRunA + "\r\n06/12/2026-09:15 0 25\r", kRunA + "\r\n06/12/2026-09:15 0 25\r\nx 1 9\r\n",
       "25"},
      // An LF-only file is left as it is: its last line has its end.
      {kRunA + "\n", kRunA + "\nx 1 9\r\n", "9"},
  };
  for (const auto& c : cases) {
    Write({c.before}, "");
    ASSERT_TRUE(history().Append("x 1 9").ok);
    EXPECT_EQ(Contents(), c.after);
    EXPECT_EQ(history().Replay(kA).value().at(0).response, c.first_response);
  }
}

TEST_F(HistoryTest, OnlyARegularFileIsReadOrWritten) {
  // Each would hang the start-up (a FIFO), grow memory without end (/dev/zero) or be no file.
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* french;
  } cases[] = {
      {"directory", [](const std::string& p) { fs::create_directory(p); }, "ordinaire"},
      {"FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }, "ordinaire"},
      {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
       "lien symbolique"},
      {"link to a regular file",
       [this](const std::string& p) {
         std::ofstream((dir_ / "real.txt").string()) << kRunA << "\r\na 1 2\r\n";
         fs::create_symlink(dir_ / "real.txt", p);
       },
       "lien symbolique"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path_);
    c.make(path_);
    const WriteResult result = history().Append("x 1 2");
    EXPECT_FALSE(result.ok || result.header_written_again);
    EXPECT_NE(result.error_french.find(c.french), std::string::npos) << result.error_french;
    EXPECT_FALSE(history().RunList().has_value());
    EXPECT_FALSE(history().Replay(kA).has_value());
  }
}

TEST_F(HistoryTest, AFailedOrShortAppendLeavesTheFileAsItWas) {
  Write({kRunA, "06/12/2026-09:15 0 20"});
  const std::string before = Contents();
  // A file-size limit just past the end: the next line goes in only in part, then the write
  // fails, as on a full disk.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 10, before.size() + 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    const WriteResult result = history().Append("06/12/2026-09:16 100 2000");
    _exit(!result.ok && result.error == std::strerror(EFBIG) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Contents(), before);
  ASSERT_TRUE(history().Append("06/12/2026-09:17 0 21").ok);
  EXPECT_EQ(Contents(), before + "06/12/2026-09:17 0 21\r\n");  // no "...100 2" before it
  if (geteuid() != 0) {                                         // root writes whatever the mode
    chmod(path_.c_str(), 0444);
    EXPECT_EQ(history().Append("x 1 2").error_french,
              std::string("permission refus\xC3\xA9") + "e");
  }
}

// A file system that gives a new file the number of the one just deleted (ext4 does) must not
// make a new file look like the old one: neither to the run list, which would resume in the middle
// of the new file, nor to the writer, which would leave the run's new lines without a header.
TEST_F(HistoryTest, AFileInTheOldOnesPlaceIsReadAgainWhateverItsIdentity) {
  SetSameIdentityForTesting(true);
  const std::size_t read_to = kMarker.size() + kRunA.size() + 3 * 22 + 4;  // the run list's offset
  std::string longer = kRunC + "\r\n";
  while (longer.size() <= 2 * read_to) longer += "07/12/2026-08:00 0 9\r\n";
  const struct {
    const char* how;
    bool rotated;                      // renamed away first
    std::optional<std::string> other;  // the file another program puts in its place, if any
    Runs runs;
  } cases[] = {
      {"deleted, then made again by our own write", false, std::nullopt, Runs{kA}},
      {"a shorter file", false, kMarker + "\r\n", Runs{kA}},
      {"a file of the same size", false,
       kRunC + "\r\n" + std::string(read_to - kRunC.size() - 4, 'c') + "\r\n", Runs{kA, kC}},
      {"a longer file", false, longer, Runs{kA, kC}},
      {"rotated, then a new file", true, kMarker + "\r\n" + std::string(read_to, 'x'), Runs{kA}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    fs::remove(path_);
    HistoryFile file(path_);
    ASSERT_TRUE(file.Append(kMarker).ok && file.AppendRunHeader(kRunA).ok);
    for (const char* line :
         {"06/12/2026-09:15 0 1", "06/12/2026-09:16 0 2", "06/12/2026-09:17 0 3"})
      ASSERT_FALSE(file.AppendMeasurement(line).header_written_again);
    ASSERT_EQ(file.RunList().value(), Runs{kA});
    ASSERT_EQ(fs::file_size(path_), read_to);
    if (c.rotated) fs::rename(path_, dir_ / "trelvane.txt.1");
    fs::remove(path_);
    if (c.other) std::ofstream(path_, std::ios::binary) << *c.other;
    EXPECT_TRUE(file.AppendMeasurement("06/12/2026-09:18 8 4").header_written_again);
    EXPECT_FALSE(file.AppendMeasurement("06/12/2026-09:19 8 5").header_written_again);
    EXPECT_EQ(file.RunList().value(), c.runs);
    EXPECT_EQ(file.Replay(kA).value(),
              (Measurements{{"06/12/2026-09:18", "8", "4"}, {"06/12/2026-09:19", "8", "5"}}));
  }
  SetSameIdentityForTesting(false);
}

TEST_F(HistoryTest, RunListReadsOnlyWhatWasAppended) {
  HistoryFile file(path_);
  Write({kMarker, kRunA, "a 1 2"});
  EXPECT_EQ(file.RunList().value(), Runs{kA});
  // Appended since: a run whose header is the last line, then its first measurement, torn.
  Write({kRunB}, "\r\n", true);
  EXPECT_EQ(file.RunList().value(), Runs{kA});
  Write({"b 1"}, "", true);
  EXPECT_EQ(file.RunList().value(), (Runs{kB, kA}));
  ASSERT_TRUE(file.Append(kRunC).ok);  // ends the torn line first
  ASSERT_TRUE(file.Append("").ok);     // an empty line right after the header
  EXPECT_EQ(file.RunList().value(), (Runs{kB, kA}));
}

// The host of a run: the host line written with its header in one write (and again with it into
// a replaced file), read back for the run right after it only, also across resumed reads; in
// the file's Windows-1252, "?" for what it cannot hold, never a line break.
TEST_F(HistoryTest, EachRunNamesTheHostOnTheLineBeforeItsHeader) {
  EXPECT_EQ(HostLine("b\xC3\xBC"
                     "cher.example"),
            "+++++ H\xF4te : b\xFC"
            "cher.example");
  EXPECT_EQ(HostLine("\xE2\x82\xAC \xE4\xB8\xAD\r\n\xFF x\xC2\x85"),
            "+++++ H\xF4te : \x80 ???? x?");
  EXPECT_EQ(HostOfLine("+++++ H\xF4te : ::1").value(), "::1");
  EXPECT_FALSE(HostOfLine("++++++++++ D\xE9marrage").has_value());

  HistoryFile file(path_);
  ASSERT_TRUE(file.Append(kMarker).ok);
  ASSERT_TRUE(file.AppendRunHeader(kRunA, "192.0.2.1").ok);
  EXPECT_EQ(file.RunList().value(), Runs{});  // the header is the last line, for now
  ASSERT_TRUE(file.AppendMeasurement("06/12/2026-09:15 0 20").ok);
  Write({kRunB, "b 1", "+++++ H\xF4te : not before a header", "b 2", kRunC, "c 1"}, "\r\n", true);
  EXPECT_EQ(file.RunList().value(), (Runs{kC, kB, kA}));
  EXPECT_EQ(file.run_hosts(), (Runs{"", "", "192.0.2.1"}));
  std::remove(path_.c_str());
  ASSERT_TRUE(file.AppendMeasurement("06/12/2026-09:16 0 21").ok);
  EXPECT_EQ(Contents(), "+++++ H\xF4te : 192.0.2.1\r\n" + kRunA + "\r\n06/12/2026-09:16 0 21\r\n");
  EXPECT_EQ(file.RunList().value(), Runs{kA});
  EXPECT_EQ(file.run_hosts(), Runs{"192.0.2.1"});
}

TEST_F(HistoryTest, LongLinesAndBlockBoundariesReadAsTheRulesSay) {
  // A header longer than the longest line kept still gives its key; a long measurement line is
  // passed over, still a line of its run; block boundaries fall everywhere in small blocks; and a
  // file with no line end at all reads. (The fuzzer compares the readers with the rules at large.)
  const std::string long_header = "*****" + std::string(200, 'x') + " 06/12/2026 - 10:00:00";
  // A line of exactly the longest length kept, its CR not counted, is read whole.
  const std::string longest = "06/12/2026-09:16 0 " + std::string(21, '2');
  Write({kRunA, std::string(300, '7') + " 1 2", "06/12/2026-09:15 0 20", longest, long_header,
         "06/12/2026-10:00 4 25", kRunB, std::string(5000, ' ')});
  for (const std::size_t block : {30, 31, 64, 97}) {
    HistoryFile file(path_, block, 40);
    EXPECT_EQ(file.RunList().value(), (Runs{kB, "06/12/2026 - 10:00:00", kA})) << block;
    EXPECT_EQ(file.Replay(kA).value(),
              (Measurements{{"06/12/2026-09:15", "0", "20"},
                            {"06/12/2026-09:16", "0", std::string(21, '2')}}))
        << block;
  }
  Write({kRunA + "\r\n" + std::string(3 << 20, '\0')}, "");
  EXPECT_EQ(history().RunList().value(), Runs{kA});
  EXPECT_TRUE(history().Replay(kA).value().empty());
}

TEST_F(HistoryTest, TheWorkingFoldersFileElseAPrivateDataFolder) {
  using Why = HistoryLocation::Why;
  const struct {
    bool local_exists;
    std::optional<std::string> xdg_data_home, home;
    std::string path;
    Why why;
  } cases[] = {
      {true, "/x", "/h", "/work/trelvane.txt", Why::kWorkingDirectory},
      {false, std::nullopt, "/h", "/h/.local/share/trelvane/trelvane.txt", Why::kDataHome},
      {false, "data", "/h", "/h/.local/share/trelvane/trelvane.txt", Why::kDataHome},  // relative
      {false, std::nullopt, std::nullopt, "/work/trelvane.txt", Why::kFallback},
  };
  for (const auto& c : cases) {
    const HistoryLocation location = ChooseHistoryLocation(
        "/work", [&](std::string_view name) { return name == "HOME" ? c.home : c.xdg_data_home; },
        [&](const std::string& path) { return c.local_exists && path == "/work/trelvane.txt"; });
    EXPECT_EQ(std::pair(location.path, location.why), std::pair(c.path, c.why));
  }

  const fs::path before = fs::current_path();
  fs::create_directory(dir_ / "here");
  fs::current_path(dir_ / "here");
  setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
  // The data folder is made on the first write, for its owner only.
  const std::string path = SystemHistoryLocation().path;
  EXPECT_EQ(path, (dir_ / "data" / "trelvane" / "trelvane.txt").string());
  ASSERT_TRUE(HistoryFile(path).Append("x 1 2").ok);
  EXPECT_EQ(fs::status(dir_ / "data" / "trelvane").permissions() & fs::perms::all,
            fs::perms::owner_all);
  // Anything named trelvane.txt here, even a link to nowhere, is the user's choice of place.
  fs::create_symlink("/nowhere", "trelvane.txt");
  EXPECT_EQ(SystemHistoryLocation().why, HistoryLocation::Why::kWorkingDirectory);
  unsetenv("XDG_DATA_HOME");
  fs::current_path(before);
}

}  // namespace
}  // namespace trelvane
