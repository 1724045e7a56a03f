#include "probe/trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "history/history_report.h"
#include "history/trace_file.h"
#include "history_fixture.h"

namespace trelvane {
namespace {

EchoReply Reply(EchoStatus status, std::string from, std::int64_t us = 1500) {
  EchoReply reply(status);
  reply.from = std::move(from);
  reply.round_trip_us = us;
  return reply;
}

// Probes of hops 1 to `hops`, three each, from `replies` in order.
std::vector<TraceProbe> Probes(const std::vector<EchoReply>& replies) {
  std::vector<TraceProbe> probes;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    probes.push_back(TraceProbe{static_cast<int>(i / 3) + 1, replies[i]});
  }
  return probes;
}

std::vector<std::string> Lines(const std::vector<TraceHop>& hops) {
  std::vector<std::string> lines;
  for (const TraceHop& hop : hops) lines.push_back(HopLine(hop));
  return lines;
}

TEST(TraceTest, HopsEndAtTheDestinationOrAnUnreachable) {
  const EchoReply silent(EchoStatus::kTimedOut);
  const EchoReply router = Reply(EchoStatus::kTtlExpired, "10.201.1.2", 512);
  const EchoReply other = Reply(EchoStatus::kTtlExpired, "10.201.1.3", 430);
  const EchoReply far = Reply(EchoStatus::kSuccess, "10.201.2.8", 20644);
  // The destination answers hop 3's second probe: nothing after hop 3 counts, though later hops
  // were answered too (every probe was in flight at once).
  const std::vector<TraceHop> hops = HopsOf(
      Probes({router, other, silent, silent, silent, silent, silent, far, silent, far, far, far}));
  EXPECT_EQ(Lines(hops),
            (std::vector<std::string>{" 1  10.201.1.2  0.512 ms 10.201.1.3  0.430 ms *",
                                      " 2  * * *", " 3  * 10.201.2.8  20.644 ms *"}));
  EXPECT_TRUE(hops.back().reached());
  TraceResult result;
  result.hops = hops;
  ASSERT_TRUE(result.LastAnswering());
  EXPECT_EQ(result.LastAnswering()->address(), "10.201.2.8");
  // A router that says the destination is unreachable: the end, marked "!H"; whole milliseconds
  // where the backend gives no finer time.
  EchoReply unreachable = Reply(EchoStatus::kOther, "10.201.1.2", -1);
  unreachable.round_trip_ms = 3;
  const std::vector<TraceHop> stopped = HopsOf(
      Probes({router, router, router, unreachable, unreachable, unreachable, far, far, far}));
  EXPECT_EQ(Lines(stopped).back(), " 2  10.201.1.2  3 ms !H  3 ms !H  3 ms !H");
  // A silent far end: every hop is listed, the last that answered is the router; nothing at all
  // answers: none.
  std::vector<EchoReply> dead = {router, router, router};
  dead.resize(90, silent);
  result.hops = HopsOf(Probes(dead));
  EXPECT_EQ(result.hops.size(), 30U);
  EXPECT_EQ(result.LastAnswering()->ttl, 1);
  result.hops = HopsOf(Probes(std::vector<EchoReply>(9, silent)));
  EXPECT_FALSE(result.LastAnswering());
}

class TraceFileTest : public testing::HistoryFileTest {
 protected:
  StoredTrace Sample(std::string stamp, std::string host = "gw") const {
    return StoredTrace{std::move(stamp),
                       "06/12/2026 - 09:00:30",
                       "10.201.2.8",
                       std::move(host),
                       {" 1  10.201.1.2  0.050 ms  0.003 ms  0.001 ms", " 2  * * *"}};
  }
  std::vector<StoredTrace> Read(const std::string& path) const {
    std::vector<StoredTrace> traces;
    FileError error;
    EXPECT_TRUE(ReadTraces(
        path, [](const StoredTrace&) { return true; }, traces, error));
    return traces;
  }
};

TEST_F(TraceFileTest, WholeBlocksOnlyAndTheHostAsTheHistoryHoldsIt) {
  const std::string traces = TraceFileBeside(path_);
  EXPECT_EQ(traces, (dir_ / "trelvane-traces.txt").string());
  EXPECT_TRUE(Read(traces).empty());  // none yet
  FileError error;
  ASSERT_TRUE(
      AppendTrace(traces, Sample("06/12/2026-09:02", "gw ; h\xC3\xB4te : x\n\xE2\x82\xAC"), error));
  // A block cut short by a crash, lines of another program, then a whole block.
  std::ofstream(traces, std::ios::binary | std::ios::app)
      << "===== Trace : 06/12/2026-09:03 ; s\xE9rie : k ; adresse : a ; h\xF4te : h\r\n 1  * * "
         "*\r\n"
      << "garbage\r\n";
  ASSERT_TRUE(AppendTrace(traces, Sample("06/12/2026-09:04"), error));
  const std::vector<StoredTrace> read = Read(traces);
  ASSERT_EQ(read.size(), 2U);
  EXPECT_EQ(read[0].stamp, "06/12/2026-09:02");
  EXPECT_EQ(read[0].run_key, "06/12/2026 - 09:00:30");
  // The host's line end is no line end, and the euro sign is Windows-1252's.
  EXPECT_EQ(read[0].host, "gw ; h\xF4te : x?\x80");
  EXPECT_EQ(read[1].stamp, "06/12/2026-09:04");
  EXPECT_EQ(read[1].hop_lines, Sample("").hop_lines);
  ASSERT_TRUE(read[1].LastAnswering());
  EXPECT_EQ(read[1].LastAnswering()->number, 1);
  EXPECT_EQ(read[1].LastAnswering()->address, "10.201.1.2");
  // A link in the file's place is refused, and nothing is written through it.
  const std::string link = (dir_ / "linked.txt").string();
  ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
  EXPECT_FALSE(AppendTrace(link, Sample("06/12/2026-09:05"), error));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(TraceFileTest, AnOutageNamesTheLastHopOfATraceItsRunTookDuringIt) {
  setenv("TZ", "UTC", 1);
  Write({"***** 06/12/2026 - 09:00:30", "06/12/2026-09:01 0 20", "06/12/2026-09:02 100 2000",
         "06/12/2026-09:03 100 2000", "06/12/2026-09:04 0 20", "06/12/2026-09:05 100 2000",
         "06/12/2026-09:06 0 20"});
  FileError error;
  const std::string traces = TraceFileBeside(path_);
  StoredTrace before = Sample("06/12/2026-09:01");  // before the outage: not its evidence
  before.hop_lines = {" 1  10.9.9.9  1 ms  1 ms  1 ms"};
  StoredTrace other_run = Sample("06/12/2026-09:03");
  other_run.run_key = "06/12/2026 - 08:00:00";
  other_run.hop_lines = {" 1  10.8.8.8  1 ms  1 ms  1 ms"};
  StoredTrace silent = Sample("06/12/2026-09:05");
  silent.hop_lines = {" 1  * * *", " 2  * * *"};
  for (const StoredTrace& t : {before, other_run, Sample("06/12/2026-09:03"), silent}) {
    ASSERT_TRUE(AppendTrace(traces, t, error));
  }
  Report report;
  ASSERT_TRUE(BuildReport(path_, {}, report, error));
  AttachTraces(report, path_);
  ASSERT_EQ(report.outages.size(), 2U);
  const std::vector<StretchRow> rows = RowsOf(report.outages);
  EXPECT_EQ(LastHopText(report, rows[0]), "dernier saut joignable : 1 \u2014 10.201.1.2");
  EXPECT_EQ(LastHopText(report, rows[1]), "aucun saut joignable");
  auto written = [&](ReportFormat format) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    WriteReport(report, {}, "h.txt", format, out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
  };
  for (const ReportFormat format : {ReportFormat::kText, ReportFormat::kMarkdown}) {
    EXPECT_NE(written(format).find("dernier saut joignable : 1 \u2014 10.201.1.2"),
              std::string::npos);
  }
  EXPECT_NE(written(ReportFormat::kCsv).find(",1,10.201.1.2\r\n"), std::string::npos);
  const std::string json = written(ReportFormat::kJson);
  EXPECT_NE(json.find("\"last_hop\": {\"hop\": 1, \"address\": \"10.201.1.2\"}"),
            std::string::npos);
  EXPECT_NE(json.find("\"last_hop\": null"), std::string::npos);
  EXPECT_EQ(json.find("10.9.9.9"), std::string::npos);
  EXPECT_EQ(json.find("10.8.8.8"), std::string::npos);
}

}  // namespace
}  // namespace trelvane
