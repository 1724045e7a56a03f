// Reports and exports of hand-made history files, with answers worked out by hand.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "history/history_report.h"
#include "history/history_survey.h"
#include "history/report_encoding.h"
#include "history_fixture.h"

namespace trelvane {
namespace {

using Strings = std::vector<std::string>;

class ReportTest : public testing::HistoryFileTest {
 protected:
  // The stamps are local times: the time zone is the test's to choose.
  void SetUp() override {
    HistoryFileTest::SetUp();
    Zone("UTC");
  }
  static void Zone(const char* name) { setenv("TZ", name, 1); }
  Report Build(const ReportOptions& options = {}) const {
    Report report;
    FileError error;
    EXPECT_TRUE(BuildReport(path_, options, report, error));
    return report;
  }
  // What the report in `format`, or with no format the export, writes.
  std::string Written(const ReportOptions& options = {},
                      std::optional<ReportFormat> format = std::nullopt) const {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    FileError error;
    if (format) {
      WriteReport(Build(options), options, "h.txt", *format, out);
    } else {
      EXPECT_TRUE(ExportMeasurements(path_, options, ReportFormat::kCsv, out, error));
    }
    std::fclose(out);
    std::string written(text, size);
    std::free(text);
    return written;
  }
};

template <typename Stretches>
std::vector<std::string> Iso(const Stretches& stretches) {
  std::vector<std::string> out;
  for (const StretchRow& s : RowsOf(stretches)) {
    out.push_back(IsoMinuteWithOffset(s.first) + " " + IsoMinuteWithOffset(s.last) + " " +
                  std::to_string(s.minutes));
  }
  return out;
}

const std::string kHeader = "***** 06/12/2026 - 23:55:00";

// The report's counts and response figures in one line.
std::string Summary(const Report& r) {
  auto ms = [](std::optional<int> v) { return v ? std::to_string(*v) : "-"; };
  return std::to_string(r.measured) + " measured, " + std::to_string(r.available) + " available, " +
         std::to_string(r.clean) + " clean; median " + ms(r.ResponsePercentile(50)) + ", p95 " +
         ms(r.ResponsePercentile(95)) + ", max " + std::to_string(r.max_response_ms);
}

// `part` stands somewhere in `text`.
void ExpectIn(const std::string& text, const std::string& part) {
  EXPECT_NE(text.find(part), std::string::npos) << part << "\nnot in:\n" << text;
}

TEST_F(ReportTest, OutageAcrossMidnightAndAGapThatCountsForNothing) {
  Write({"++++++++++ D\xE9marrage de l'application : 06/12/2026 - 23:50:00", kHeader,
         "06/12/2026-23:56 0 20", "06/12/2026-23:57 0 22", "06/12/2026-23:58 100 2000",
         "06/12/2026-23:59 100 2000", "07/12/2026-00:00 100 2000", "07/12/2026-00:01 4 30",
         "07/12/2026-00:06 100 2000", "07/12/2026-00:07 0 40", "not a measurement",
         "07/12/2026-00:08 0 24"});
  const Report r = Build();
  ASSERT_EQ(r.runs.size(), 1u);
  EXPECT_EQ(r.runs[0].key, "06/12/2026 - 23:55:00");
  // The three minutes from 23:58 to 00:00 are one outage; 00:06 stands alone after the gap.
  EXPECT_EQ(Iso(r.outages),
            (std::vector<std::string>{"2026-12-06T23:58+00:00 2026-12-07T00:00+00:00 3",
                                      "2026-12-07T00:06+00:00 2026-12-07T00:06+00:00 1"}));
  // 00:01 to 00:06: four minutes without a measurement, neither outage nor available.
  EXPECT_EQ(Iso(r.gaps),
            std::vector<std::string>{"2026-12-07T00:01+00:00 2026-12-07T00:06+00:00 4"});
  // Responses 20 22 24 30 40; mean loss 404 / 9.
  EXPECT_EQ(Summary(r), "9 measured, 5 available, 4 clean; median 24, p95 40, max 40");
  EXPECT_EQ(HundredthsOf(r.available, r.measured), "55.55");
  EXPECT_EQ(HundredthsOf(r.loss_sum, r.measured * 100), "44.88");
}

TEST_F(ReportTest, ThePeriodCutsARunAndEpisodesStopAtTheThreshold) {
  Write({kHeader, "06/12/2026-23:58 24 20", "06/12/2026-23:59 25 20", "07/12/2026-00:00 29 20",
         "07/12/2026-00:01 24 20", "07/12/2026-00:02 100 2000", "***** 08/12/2026 - 10:00:00",
         "08/12/2026-10:00 0 20"});
  const Report all = Build();
  // 24 % is below the threshold of 25 %, 25 % is at it.
  EXPECT_EQ(Iso(all.episodes),
            (std::vector<std::string>{"2026-12-06T23:59+00:00 2026-12-07T00:00+00:00 2",
                                      "2026-12-07T00:02+00:00 2026-12-07T00:02+00:00 1"}));
  ReportOptions at_24;
  at_24.loss_threshold = 24;
  EXPECT_EQ(Iso(Build(at_24).episodes),
            std::vector<std::string>{"2026-12-06T23:58+00:00 2026-12-07T00:02+00:00 5"});

  ReportOptions one_day;
  one_day.since = CalendarDate{2026, 12, 7};
  one_day.until = CalendarDate{2026, 12, 7};
  const Report cut = Build(one_day);
  ASSERT_EQ(cut.runs.size(), 1u);  // the run of the 8th is outside
  EXPECT_EQ(IsoMinute(cut.runs[0].first.local), "2026-12-07T00:00");
  EXPECT_EQ(cut.runs[0].tally.measured, 3);
  EXPECT_EQ(Iso(cut.episodes),
            (std::vector<std::string>{"2026-12-07T00:00+00:00 2026-12-07T00:00+00:00 1",
                                      "2026-12-07T00:02+00:00 2026-12-07T00:02+00:00 1"}));
  ReportOptions one_run;
  one_run.run = "08/12/2026 - 10:00:00";
  EXPECT_EQ(Build(one_run).measured, 1);
}

TEST_F(ReportTest, ARunWithNoAnswerAndAnEmptyPeriod) {
  Write({kHeader, "06/12/2026-23:56 100 2000", "06/12/2026-23:57 100 2000"});
  const Report r = Build();
  EXPECT_EQ(Summary(r), "2 measured, 0 available, 0 clean; median -, p95 -, max -1");
  EXPECT_EQ(Iso(r.outages),
            std::vector<std::string>{"2026-12-06T23:56+00:00 2026-12-06T23:57+00:00 2"});
  const std::string json = Written({}, ReportFormat::kJson);
  ExpectIn(json, "\"availability_percent\": 0.00");
  ExpectIn(json, "\"response_ms\": {\"median\": null, \"p95\": null, \"max\": null}");
  ExpectIn(Written({}, ReportFormat::kText), "aucune réponse");
  // Answers all at 0 ms (a host on the same machine) are answers: their figures are shown.
  Write({kHeader, "06/12/2026-23:56 0 0", "06/12/2026-23:57 0 0"});
  ExpectIn(Written({}, ReportFormat::kJson),
           "\"response_ms\": {\"median\": 0, \"p95\": 0, \"max\": 0}");
  ExpectIn(Written({}, ReportFormat::kText), "médiane 0 ms, 95e centile 0 ms, maximum 0 ms");

  ReportOptions later;
  later.since = CalendarDate{2027, 1, 1};
  later.until = CalendarDate{2027, 1, 31};
  ExpectIn(Written(later, ReportFormat::kJson),
           "\"since\": \"2027-01-01\",\n  \"until\": \"2027-01-31\"");
  ExpectIn(Written(later, ReportFormat::kText), "Aucune mesure");
  ExpectIn(Written(later, ReportFormat::kJson),
           "\"total\": {\"first\": null, \"last\": null, \"minutes\": 0}");
  ExpectIn(Written(later, ReportFormat::kCsv), "total,,,,,0,");
}

TEST_F(ReportTest, EveryFormatCarriesTheSameFigures) {
  Write({kHeader, "06/12/2026-23:58 8 21", "06/12/2026-23:59 100 2000", "07/12/2026-00:00 0 35"});
  const std::string text = Written({}, ReportFormat::kText);
  const std::string csv = Written({}, ReportFormat::kCsv);
  const std::string json = Written({}, ReportFormat::kJson);
  for (const char* figure : {"66.66", "33.33", "36.00"}) {  // available, clean, mean loss
    for (const std::string& written : {text, csv, json}) ExpectIn(written, figure);
  }
  ExpectIn(csv,
           "outage,06/12/2026 - 23:55:00,,2026-12-06T23:59+00:00,2026-12-06T23:59+00:00,1,,,,,,,,,,"
           "\r\n");
  // Every row of a list, not only its first.
  Write(
      {kHeader, "06/12/2026-23:58 100 2000", "06/12/2026-23:59 0 20", "07/12/2026-00:00 100 2000"});
  ExpectIn(Written({}, ReportFormat::kJson), "\"first\": \"2026-12-07T00:00+00:00\"");
  ExpectIn(json,
           "{\"first\": \"2026-12-06T23:59+00:00\", \"last\": \"2026-12-06T23:59+00:00\", "
           "\"minutes\": 1, \"run\": \"06/12/2026 - 23:55:00\"}");
  ExpectIn(text, "2026-12-06T23:59  2026-12-06T23:59");  // local times, as the file has them
}

// Summary first, then day by day: a worst day at a month's end, the longest outage, and loss
// episodes merged when fewer than --merge minutes apart (not at exactly --merge).
TEST_F(ReportTest, SummaryDaysRunsAndMergedEpisodes) {
  Strings lines = {"***** 30/11/2026 - 23:49:00"};
  for (int m = 50; m <= 56; ++m)
    lines.push_back("30/11/2026-23:" + std::to_string(m) + " 100 2000");
  for (const char* line :
       {"30/11/2026-23:57 0 20", "30/11/2026-23:58 50 30", "30/11/2026-23:59 0 22",
        "01/12/2026-00:00 0 24", "01/12/2026-00:01 0 26", "01/12/2026-00:02 0 28",
        "01/12/2026-00:03 25 40", "01/12/2026-00:04 0 20", "***** 01/12/2026 - 10:00:00",
        "01/12/2026-10:00 100 2000", "01/12/2026-10:01 0 30"}) {
    lines.emplace_back(line);
  }
  Write(lines);
  const Report r = Build();
  auto figures = [](const Tally& t) {
    const ReportFigures f(t);
    return std::to_string(t.measured) + " " + f.availability + " " +
           std::to_string(t.outage_minutes) + " " + f.mean_loss + " " + MsText(f.median) + " " +
           MsText(f.p95);
  };
  ASSERT_EQ(r.days.size(), 2U);
  EXPECT_EQ(IsoDate(r.days[0].date) + " " + figures(r.days[0].tally),
            "2026-11-30 10 30.00 7 75.00 22 30");
  EXPECT_EQ(IsoDate(r.days[1].date) + " " + figures(r.days[1].tally),
            "2026-12-01 7 85.71 1 17.85 26 40");
  EXPECT_EQ(figures(r.runs[1].tally), "2 50.00 1 50.00 30 30");
  ASSERT_NE(WorstDay(r), nullptr);
  EXPECT_EQ(IsoDate(WorstDay(r)->date), "2026-11-30");
  EXPECT_EQ(OutageMinutes(r), 8);
  const std::optional<StretchRow> longest = LongestOutage(r);
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(IsoMinute(longest->first.local) + " " + IsoMinute(longest->last.local) + " " +
                std::to_string(longest->minutes),
            "2026-11-30T23:50 2026-11-30T23:56 7");
  auto merged = [&](int minutes) {
    Strings rows;
    for (const StretchRow& e : MergedEpisodes(r, minutes)) {
      rows.push_back(IsoMinute(e.first.local).substr(11) + "-" +
                     IsoMinute(e.last.local).substr(11) + " " + std::to_string(e.minutes) + "/" +
                     std::to_string(e.loss_minutes) + " run " + std::to_string(e.run));
    }
    return rows;
  };
  EXPECT_EQ(merged(5), Strings({"23:50-00:03 14/9 run 0", "10:00-10:00 1/1 run 1"}));
  EXPECT_EQ(merged(4),
            Strings({"23:50-23:58 9/8 run 0", "00:03-00:03 1/1 run 0", "10:00-10:00 1/1 run 1"}));
  EXPECT_EQ(merged(0).size(), 4U);

  const std::string text = Written({}, ReportFormat::kText);
  ExpectIn(text, "Coupure la plus longue :    2026-11-30T23:50 → 2026-11-30T23:56, 7 minutes\n");
  ExpectIn(text, "Jour le plus mauvais :      2026-11-30, 30.00 % disponible");
  ExpectIn(text, "  2026-12-01         7     85.71        1         17.85       26      40\n");
  ExpectIn(text, "  2026-12-01T10:00  2026-12-01T10:00         1  01/12/2026 - 10:00:00\n");
  EXPECT_EQ(text.find("Trous (au moins"), std::string::npos);  // listed with --details only
  ReportOptions details;
  details.details = true;
  details.merge_minutes = 4;
  ExpectIn(Written(details, ReportFormat::kText), "Épisodes de perte (≥ 25 %) : 3\n");
  ExpectIn(Written({}, ReportFormat::kCsv),
           "day,,2026-12-01,,,7,85.71,71.42,17.85,1,26,40,,,,\r\n");
  const std::string json = Written({}, ReportFormat::kJson);
  ExpectIn(json, "\"worst_day\": \"2026-11-30\"");
  ExpectIn(json, "\"loss_minutes\": 9, \"run\": \"30/11/2026 - 23:49:00\"}");
}

// Runs to several hosts in one file are reported per host, side by side; a run without a host
// line is one of an unknown host, and a host line not right before a header names nothing.
TEST_F(ReportTest, TwoHostsInOneFileSideBySide) {
  Write({"+++++ H\xF4te : gateway", "***** 06/12/2026 - 09:00:00", "06/12/2026-09:00 0 2",
         "06/12/2026-09:01 0 3", "+++++ H\xF4te : provider.example", "***** 06/12/2026 - 09:00:30",
         "06/12/2026-09:00 100 2000", "06/12/2026-09:01 0 30", "+++++ H\xF4te : stray", "x",
         "***** 06/12/2026 - 10:00:00", "06/12/2026-10:00 0 5", "+++++ H\xF4te : gateway",
         "***** 06/12/2026 - 11:00:00", "06/12/2026-11:00 0 4"});
  std::vector<HostReport> reports;
  FileError error;
  ASSERT_TRUE(BuildHostReports(path_, {}, reports, error));
  ASSERT_EQ(reports.size(), 3U);
  EXPECT_EQ(HostText(reports[0].host) + " " + std::to_string(reports[0].report.runs.size()) + " " +
                std::to_string(reports[0].report.measured),
            "gateway 2 3");
  EXPECT_EQ(reports[1].report.outages.size(), 1U);
  EXPECT_EQ(HostText(reports[2].host), "hôte inconnu");
  EXPECT_EQ(HostsOf(Build()), "gateway, provider.example, hôte inconnu");

  auto written = [&](ReportFormat format) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    WriteReports(reports, {}, format, out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
  };
  const std::string text = written(ReportFormat::kText);
  ExpectIn(text, "Rapport Trelvane : 3 sources côte à côte\n");
  ExpectIn(text, PadToWidth("Disponibilité :", 24) + PadToWidth("100.00 %", 22) +
                     PadToWidth("50.00 %", 22) + "100.00 %\n");
  ExpectIn(text, PadToWidth("  2026-12-06", 24) + PadToWidth("100.00, 0", 22) +
                     PadToWidth("50.00, 1", 22) + "100.00, 0\n");
  ExpectIn(text,
           "  provider.example        2026-12-06T09:00  2026-12-06T09:00         1  "
           "06/12/2026 - 09:00:30\n");
  const std::string csv = written(ReportFormat::kCsv);
  EXPECT_EQ(csv.find("file,host,section"), 0U);
  EXPECT_EQ(csv.find("file,host,section", 1), std::string::npos);  // one heading
  ExpectIn(csv, "\r\n" + path_ + ",provider.example,outage,06/12/2026 - 09:00:30,,");
  const std::string json = written(ReportFormat::kJson);
  ExpectIn(json, "\"sources\": [\n{\n  \"schema\"");
  ExpectIn(json, "\"hosts\": [null]");
  ExpectIn(Written({}, ReportFormat::kJson),
           "\"hosts\": [\"gateway\", \"provider.example\", null]");
  // Nearest ranks among 20 answers: the 10th, the 19th.
  ResponseCounts counts;
  for (int ms = 20; ms >= 1; --ms) counts.Add(ms);
  EXPECT_EQ(std::tuple(counts.Percentile(50), counts.Percentile(95), counts.Max()),
            std::tuple(std::optional(10), std::optional(19), std::optional(20)));
}

TEST_F(ReportTest, SlowTimesAndDaysMetAgainCountTogether) {
  // Times past the counted range, met on different days, in either order.
  Write({kHeader, "06/12/2026-23:58 0 6000", "07/12/2026-00:01 0 5000", "07/12/2026-00:02 0 5000",
         "07/12/2026-00:03 0 7000"});
  EXPECT_EQ(Summary(Build()), "4 measured, 4 available, 4 clean; median 5000, p95 7000, max 7000");
  // A run that goes back to a day met before the last one: the same row, not a second.
  Write({kHeader, "06/12/2026-23:58 0 20", "07/12/2026-00:01 0 20", "***** 06/12/2026 - 23:59:00",
         "06/12/2026-23:59 100 2000"});
  const Report report = Build();
  ASSERT_EQ(report.days.size(), 2U);
  EXPECT_EQ(std::tuple(report.days[0].tally.measured, report.days[0].tally.outage_minutes,
                       report.days[1].tally.measured),
            std::tuple(2, 1, 1));
}

TEST(ResponseCountsTest, RanksMatchTheSortedTimesWhereverTheyFall) {
  // Times near each other, far apart, on both sides of the first ones, and above the window's
  // width: every rank is the sorted list's.
  std::uint32_t noise = 12345;
  auto next = [&noise] { return noise = noise * 1664525U + 1013904223U; };
  for (const int spread : {1, 9, 63, 64, 65, 300, 5000}) {
    for (const int start : {0, 30, 2000}) {
      ResponseCounts counts;
      std::vector<int> times;
      for (int i = 0; i < 400; ++i) {
        const int far = next() % 10 == 0 ? static_cast<int>(next() % 100000) : 0;
        const int ms = start + static_cast<int>(next() % static_cast<std::uint32_t>(spread)) + far;
        counts.Add(ms);
        times.push_back(ms);
        if (i % 57 != 0) continue;
        std::vector<int> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        for (const int p : {1, 50, 95, 100}) {
          const std::size_t rank = std::max<std::size_t>(1, (p * sorted.size() + 99) / 100);
          EXPECT_EQ(counts.Percentile(p), sorted[rank - 1]) << spread << " " << start << " " << p;
        }
        EXPECT_EQ(counts.Max(), sorted.back());
      }
    }
  }
  EXPECT_EQ(ResponseCounts().Percentile(50), std::nullopt);
  EXPECT_EQ(ResponseCounts().Max(), std::nullopt);
}

TEST_F(ReportTest, ExportIsOneCsvRowPerMeasurement) {
  // The second run names its host, with odd characters: a comma, a quote, a "ü" in the file's
  // Windows-1252 (UTF-8 out).
  Write({"***** 06/12/2026 - 09:15:02", "06/12/2026-09:15 0 23", "06/12/2026-09:16 4 25",
         "06/12/2026-09:17 100 2000", "06/12/2026-09:18 3 25", "07.12.2026-10.00 12 19",
         "+++++ H\xF4te : b\xFC"
         "cher,\"x\"",
         "***** x,\"y\"", "06/12/2026-10:00 0 20"});
  EXPECT_EQ(Written(),
            "run,datetime,loss_percent,response_ms,answered_of_24,host\r\n"
            "06/12/2026 - 09:15:02,2026-12-06T09:15+00:00,0,23,24,\r\n"
            "06/12/2026 - 09:15:02,2026-12-06T09:16+00:00,4,25,23,\r\n"
            "06/12/2026 - 09:15:02,2026-12-06T09:17+00:00,100,,0,\r\n"
            "06/12/2026 - 09:15:02,2026-12-06T09:18+00:00,3,25,,\r\n"  // no burst gives 3 %
            "06/12/2026 - 09:15:02,2026-12-07T10:00+00:00,12,19,21,\r\n"
            "\"***** x,\"\"y\"\"\",2026-12-06T10:00+00:00,0,20,24,\"b\xC3\xBC"
            "cher,\"\"x\"\"\"\r\n");
  // JSON lines: the same rows, nulls where CSV leaves a field empty, and the count of rows.
  char* text = nullptr;
  std::size_t size = 0;
  std::size_t rows = 0;
  std::FILE* out = open_memstream(&text, &size);
  FileError error;
  EXPECT_TRUE(ExportMeasurements(path_, {}, ReportFormat::kJson, out, error, &rows));
  std::fclose(out);
  const std::string json(text, size);
  std::free(text);
  EXPECT_EQ(rows, 6U);
  ExpectIn(json,
           "{\"run\":\"06/12/2026 - 09:15:02\",\"datetime\":\"2026-12-06T09:17+00:00\","
           "\"loss_percent\":100,\"response_ms\":null,\"answered_of_24\":0,\"host\":null}\n"
           "{\"run\":\"06/12/2026 - 09:15:02\",\"datetime\":\"2026-12-06T09:18+00:00\","
           "\"loss_percent\":3,\"response_ms\":25,\"answered_of_24\":null,\"host\":null}\n");
  ExpectIn(json, "{\"run\":\"***** x,\\\"y\\\"\",");
  ExpectIn(json,
           "\"host\":\"b\xC3\xBC"
           "cher,\\\"x\\\"\"}\n");
  EXPECT_FALSE(
      ExportMeasurements(path_ + ".missing", {}, ReportFormat::kCsv, stdout, error, &rows));
}

// An empty report is told apart: no history at all, or a key no run has (and the nearest ones).
TEST_F(ReportTest, AnEmptyReportLooksAtWhatTheFileHolds) {
  HistorySurvey survey;
  FileError error;
  const std::vector<std::pair<Strings, bool>> files = {
      {{}, false},
      {{"Dear provider,", "my line drops.", "06/12/2026-09:15 zero 23"}, false},
      {{"++++++++++ D\xe9marrage"}, true},
      {{"letter", "06/12/2026-09:15 0 23"}, true},
  };
  for (const auto& [lines, holds] : files) {
    Write(lines);
    EXPECT_TRUE(SurveyHistory(path_, survey, error));
    EXPECT_EQ(survey.holds_history, holds) << ::testing::PrintToString(lines);
  }
  Write({"***** 06/12/2026 - 09:15:02", "junk", "***** 07/12/2026 - 18:00:00",
         "***** 06/12/2026 - 19:15:02"});
  EXPECT_TRUE(SurveyHistory(path_, survey, error, 40, 30));
  EXPECT_EQ(survey.run_keys,
            Strings({"06/12/2026 - 09:15:02", "07/12/2026 - 18:00:00", "06/12/2026 - 19:15:02"}));
  EXPECT_EQ(ClosestKeys(survey.run_keys, "06/12/2026 - 09:15:03", 2),
            Strings({"06/12/2026 - 09:15:02", "06/12/2026 - 19:15:02"}));
  EXPECT_TRUE(ClosestKeys({}, "x").empty());
  EXPECT_FALSE(SurveyHistory(path_ + ".missing", survey, error));
}

// The stamps are local wall-clock times: lengths and gaps count real minutes across the changes
// of the clocks, the repeated hour is told apart by the order of the lines, and CSV, JSON and the
// export write each moment with its offset.
TEST_F(ReportTest, ChangesOfTheClocksCountRealMinutes) {
  const std::string run = "***** 25/10/2026 - 02:50:00";
  std::vector<std::string> autumn = {run};
  for (int m = 50; m <= 79; ++m)  // 02:50 to 02:59, then 02:00 to 02:19 again
    autumn.push_back("25/10/2026-02:" + std::to_string(100 + m % 60).substr(1) + " 100 2000");
  autumn.push_back("25/10/2026-02:20 0 20");
  Write(autumn);
  Zone("Europe/Paris");
  EXPECT_EQ(Iso(Build().outages),
            std::vector<std::string>{"2026-10-25T02:50+02:00 2026-10-25T02:19+01:00 30"});
  EXPECT_TRUE(Build().gaps.empty());
  ExpectIn(Written(),
           ",2026-10-25T02:59+02:00,100,,0,\r\n25/10/2026 - 02:50:00,2026-10-25T02:00+01:00,");
  Zone("UTC");  // the same file read where the clocks never change: a jump back of 50 minutes
  EXPECT_EQ(Iso(Build().outages).size(), 2u);

  // Spring: measured without a break from 01:58 to 03:01 is no gap.
  Write({"***** 29/03/2026 - 01:58:00", "29/03/2026-01:58 0 20", "29/03/2026-01:59 100 2000",
         "29/03/2026-03:00 100 2000", "29/03/2026-03:01 0 20"});
  Zone("Europe/Paris");
  const Report spring = Build();
  EXPECT_TRUE(spring.gaps.empty());
  EXPECT_EQ(Iso(spring.outages),
            std::vector<std::string>{"2026-03-29T01:59+01:00 2026-03-29T03:00+02:00 2"});
  Zone("UTC");
  EXPECT_EQ(Iso(Build().gaps),
            std::vector<std::string>{"2026-03-29T01:59+00:00 2026-03-29T03:00+00:00 60"});

  // A change of half an hour, and a run that starts inside the repeated half hour: its first
  // moment until the lines go back.
  Write({"***** 05/04/2026 - 01:40:00", "05/04/2026-01:40 0 20", "05/04/2026-01:59 100 2000",
         "05/04/2026-01:30 100 2000", "05/04/2026-01:31 0 20"});
  Zone("Australia/Lord_Howe");
  EXPECT_EQ(Iso(Build().outages),
            std::vector<std::string>{"2026-04-05T01:59+11:00 2026-04-05T01:30+10:30 2"});
  ExpectIn(Written({}, ReportFormat::kJson), "\"first\": \"2026-04-05T01:40+11:00\"");
  Zone("America/St_Johns");  // west of UTC, by a half hour too
  ExpectIn(Written(), ",2026-04-05T01:40-02:30,");
  // From a day well before the change to a day well after it: each day its own offset.
  Zone("Europe/Paris");
  Write({run, "20/10/2026-12:00 0 20", "30/10/2026-12:00 0 20"});
  ExpectIn(Written(), ",2026-10-20T12:00+02:00,0,20,24,\r\n");
  ExpectIn(Written(), ",2026-10-30T12:00+01:00,0,20,24,\r\n");
}

TEST(ReportLineTest, StampsByPositionAndFiguresInRange) {
  const std::pair<const char*, bool> cases[] = {
      {"06/12/2026-09:15 0 23", true},  {"06.12.2026-09.15 100 2000 more", true},
      {"29/02/2024-00:00 0 1", true},   {"29/02/2026-00:00 0 1", false},
      {"06/12/2026-24:00 0 1", false},  {"06/12/2026-09:15 101 1", false},
      {"06/12/2026-09:15 -1 1", false}, {"06/12/2026-09:15 0", false},
      {"06/12/2026-09:15  0 1", false}, {"...", false},
      {"06/12/2026-09:15 0 x", false},  {"6/12/2026-09:15 0 1", false},
      {"01/01/0001-00:00 0 1", true},   {"01/01/0000-00:00 0 1", false},
  };
  for (const auto& [line, read] : cases)
    EXPECT_EQ(ReadMeasurementLine(line).has_value(), read) << line;
  EXPECT_EQ(IsoMinute(ReadMeasurementLine("31/12/2026-23:59 0 1")->minute + 1), "2027-01-01T00:00");
  // A stamp longer than the program writes: still its first 10 and last 5 characters.
  EXPECT_EQ(IsoMinute(ReadMeasurementLine("06/12/2026--14:05 4 23")->minute), "2026-12-06T14:05");
}

// Keys and names go out as UTF-8: kept when they are UTF-8 already, read as the file's
// Windows-1252 otherwise.
TEST(ReportEncodingTest, Utf8KeptOtherBytesTakenAsWindows1252) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "plain"},
      {"d\xC3\xA9"
       "but",
       "d\xC3\xA9"
       "but"},  // UTF-8 "début"
      {"D\xE9"
       "marrage",
       "D\xC3\xA9"
       "marrage"},  // Latin-1 "Démarrage"
      {"\xC3"
       "A",
       "\xC3\x83"
       "A"},                                               // a lead byte, then no continuation
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},                // a sequence cut short: "â‚"
      {"\x80 \x9C\x81", "\xE2\x82\xAC \xC5\x93\xC2\x81"},  // "€ œ", and a byte 1252 leaves unused
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Utf8Of(in), out) << in;
  EXPECT_EQ(CsvField("a,\xE9"), "\"a,\xC3\xA9\"");
}

}  // namespace
}  // namespace trelvane
