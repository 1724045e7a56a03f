#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/terminal.h"
#include "fake_clock.h"
#include "measure/burst.h"
#include "measure/calendar.h"
#include "measure/measurement.h"

namespace trelvane {
namespace {

std::vector<std::string> Repeat(int count, const std::string& text) {
  return std::vector<std::string>(count, text);
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(BurstFiguresTest, DesignedCases) {
  std::vector<std::string> seventeen = Repeat(16, "23 ms");  // 17 answers, 400 ms in all
  seventeen.push_back("32 ms");
  const struct {
    const char* name;
    std::vector<std::string> results;
    int loss, response;
  } cases[] = {
      {"all answered at 20 ms", Repeat(24, "20 ms"), 0, 20},
      {"all timed out", Repeat(24, "Timeout"), 100, 2000},
      {"7 lost, 17 answered", Concat(Repeat(7, "Timeout"), seventeen), 29, 23},
      // Err and SZErr form no number: they are lost requests, never a 0 ms answer.
      {"one Err", Concat(Repeat(23, "10 ms"), {"Err"}), 4, 10},
      {"one SZErr", Concat({"SZErr"}, Repeat(23, "10 ms")), 4, 10},
      {"0 ms answers", Repeat(24, "0 ms"), 0, 0},
      {"response rounds down", {"1 ms", "2 ms"}, 0, 1},
  };
  for (const auto& c : cases) {
    BurstCounters counters;
    for (const std::string& result : c.results) counters.Count(result);
    EXPECT_EQ(std::pair(counters.LossPercent(), counters.ResponseTimeMs()),
              std::pair(c.loss, c.response))
        << c.name;
  }
}

TEST(BurstFiguresTest, LossAndProgressTakeOnlyTheDesignedValues) {
  const int expected[] = {0,  4,  8,  12, 16, 20, 25, 29, 33, 37, 41, 45, 50,
                          54, 58, 62, 66, 70, 75, 79, 83, 87, 91, 95, 100};
  for (int lost = 0; lost <= 24; ++lost) {
    BurstCounters counters;
    for (int i = 0; i < 24; ++i) counters.Count(i < lost ? "Timeout" : "5 ms");
    EXPECT_EQ(counters.LossPercent(), expected[lost]) << lost << " lost";
    if (lost > 0) {
      EXPECT_EQ(ProgressPercent(lost), expected[lost]) << lost;
    }
  }
  EXPECT_EQ(BurstCounters().LossPercent(), 0);  // nothing counted yet
}

TEST(BurstFiguresTest, OnlyWholeMillisecondTextsAreAnswers) {
  for (const int ms : {23, 0, 2000}) EXPECT_EQ(RoundTripOf(std::to_string(ms) + " ms"), ms);
  for (const char* text : {"Timeout", "Err", "SZErr", " ms", "ms", "23ms", "-1 ms", "+1 ms",
                           "1.5 ms", " 3 ms", "99999999999 ms", ""}) {
    EXPECT_FALSE(RoundTripOf(text).has_value()) << '"' << text << '"';
  }
}

TEST(TimeTextTest, FixedWidthFieldsAndRegionalSeparators) {
  const LocalTime t{2026, 12, 6, 9, 5, 2};
  EXPECT_EQ(FormatTime(t), "09:05:02");
  EXPECT_EQ(FormatStamp(LocalTime{987, 1, 31, 23, 59, 59}), "31/01/0987-23:59");
  EXPECT_EQ(FormatStamp(t, Separators{'.', '.'}), "06.12.2026-09.05");
  const struct {
    const char* date_format;
    const char* time_format;
    Separators expected;
  } cases[] = {
      {"%d/%m/%Y", "%H:%M:%S", {'/', ':'}},   // fr_FR
      {"%d.%m.%Y", "%H:%M:%S", {'.', ':'}},   // de_DE
      {"%Y-%m-%d", "%H.%M.%S", {'-', '.'}},   // sv_SE, fi_FI times
      {"%-d.%-m.%Y", "%OH:%OM", {'.', ':'}},  // flags and modifiers
      {"%m/%d/%y", "%r", {'/', ':'}},         // C; a pattern without separator
      {"%d %B %Y", "%Hh%M", {'/', ':'}},      // a blank, a letter: nothing usable
      {"%d-%m-%Y", "%Ha%M", {'-', ':'}},      // the first letter of all: no separator either
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SeparatorsOfFormats(c.date_format, c.time_format), c.expected) << c.date_format;
  }
}

TEST(RunBurstTest, SendsTwentyFourRequestsAndStampsTheLastMinute) {
  testing::FakeClock clock(LocalTime{2026, 12, 6, 14, 4, 50});
  clock.StepEachReading(1);  // the burst runs across 14:05
  const std::vector<std::string> script = Concat(Repeat(6, "Timeout"), Repeat(18, "21 ms"));
  std::vector<std::string> seen;
  const BurstOutcome burst = RunBurst(
      [&] {
        const std::size_t n = seen.size();
        return PingResult{script.at(n), n == 3, false, {}};  // one request without the privilege
      },
      clock, [&](std::string_view r) { seen.emplace_back(r); });
  EXPECT_EQ(seen, script);
  EXPECT_EQ(burst.measurement, (Measurement{"06/12/2026-14:05", "25", "21"}));
  EXPECT_TRUE(burst.not_permitted && !burst.no_such_host);
}

// The calendar against the standard library's.
TEST(CalendarTest, DaysMonthsAndIsoTexts) {
  using namespace std::chrono;
  for (int d = -900'000; d <= 800'000; d += 997) {
    const year_month_day expected{sys_days{days{d}}};
    const CalendarDate date = CivilFromDays(d);
    ASSERT_EQ(date, (CalendarDate{int(expected.year()), int(unsigned(expected.month())),
                                  int(unsigned(expected.day()))}))
        << d;
    ASSERT_EQ(DaysInMonth(date.year, date.month),
              int(unsigned(year_month_day_last{expected.year() / expected.month() / last}.day())));
    ASSERT_EQ(ParseIsoDate(IsoDate(date)), date.year > 0 ? std::optional(date) : std::nullopt);
    EXPECT_EQ(IsoMinute(MinuteIndex(date, 23, 59) + 1), IsoDate(CivilFromDays(d + 1)) + "T00:00");
  }
  for (const char* text : {"2026-02-29", "2026-13-01", "2026-00-10", "2026-1-05", "2026/01/05",
                           "0000-01-01", "2026-01-0x", "2026-01-1:", " 2026-01-05"}) {
    EXPECT_FALSE(ParseIsoDate(text).has_value()) << text;
  }
  EXPECT_EQ(ParseIsoDate("0001-01-01"), (CalendarDate{1, 1, 1}));
  for (int y = 1; y <= 4000; ++y) {
    ASSERT_EQ(DaysInMonth(y, 2),
              int(unsigned(year_month_day_last{year{y} / February / last}.day())))
        << y;
  }
}

TEST(CommandLineTest, WholeArgumentTextIsTheHost) {
  using Mode = CommandLine::Mode;
  const struct {
    std::vector<std::string> arguments;
    Mode mode;
    std::string host;
  } cases[] = {
      {{}, Mode::kWindow, ""},
      {{"10.0.0.1"}, Mode::kWindow, "10.0.0.1"},
      {{"  my", "host  "}, Mode::kWindow, "my host"},
      {{" ", "\t"}, Mode::kWindow, ""},
      {{"x", "--help"}, Mode::kWindow, "x --help"},  // options only come first
      {{"--burst", "127.0.0.1"}, Mode::kBurst, "127.0.0.1"},
      {{"--burst", " a", "b "}, Mode::kBurst, "a b"},
      // The toolkit's own options are its, never part of the host.
      {{"-style", "fusion", "10.0.0.1"}, Mode::kWindow, "10.0.0.1"},
      {{"10.0.0.1", "--platform", "offscreen", "-reverse"}, Mode::kWindow, "10.0.0.1"},
      {{"-style=fusion", "--burst", "h"}, Mode::kBurst, "h"},
      // Anything else that starts with '-' is no host.
      {{"-style", "x", "--verbose"}, Mode::kUsageError, ""},
  };
  for (const auto& c : cases) {
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(std::pair(line.mode, line.host), std::pair(c.mode, c.host))
        << JoinArguments(c.arguments);
  }
  // The period and the run choose what an export takes as well as a report.
  const CommandLine exporting = ParseCommandLine(
      {"--export", "--since", "2026-01-05", "--until", "2026-02-01", "--run", "k", "h.txt"});
  EXPECT_EQ(exporting.mode, Mode::kExport) << exporting.error;
  const ReportOptions& o = exporting.query.options;
  EXPECT_TRUE(o.since == (CalendarDate{2026, 1, 5}) && o.until == (CalendarDate{2026, 2, 1}) &&
              o.run == "k" && exporting.query.files == std::vector<std::string>{"h.txt"});
}

}  // namespace
}  // namespace trelvane
