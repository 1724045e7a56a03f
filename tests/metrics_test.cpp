#include "metrics/metrics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/command_line.h"
#include "probe/pinger.h"

namespace trelvane {
namespace {

// The sample lines of an exposition whose name starts with `name`, labels and all.
std::string Samples(const std::string& text, const std::string& name) {
  std::istringstream lines(text);
  std::string line, found;
  while (std::getline(lines, line)) {
    if (line.starts_with(name)) found += line + "\n";
  }
  return found;
}

// Two complete bursts to a host that drops every fourth request, and one dropped by Stop.
Metrics TwoBurstsAndOneDropped() {
  Metrics metrics;
  metrics.SetTarget("lab \"two\"");
  for (int burst = 0; burst < 2; ++burst) {
    for (int n = 1; n <= 24; ++n) {
      metrics.AddReply(n % 4 == 0 ? "Timeout"
                                  : std::to_string(n == 1   ? 1
                                                   : n == 2 ? 2
                                                            : 20) +
                                        " ms",
                       "10.199.77.2");
    }
    metrics.AddMeasurement(25, 18, 1796680000 + 60 * burst, LinkCondition::kUp);
  }
  metrics.AddReply("5 ms", "10.199.77.2");  // never completed
  metrics.DropBurst();
  return metrics;
}

TEST(MetricsTest, CountsCompleteBurstsOnly) {
  const Metrics metrics = TwoBurstsAndOneDropped();
  EXPECT_EQ(metrics.requests(), 48);
  EXPECT_EQ(metrics.replies(), 36);
  const std::string text = metrics.Exposition(false, "0.4.0");
  const std::string labels = "{target=\"lab \\\"two\\\"\",address=\"10.199.77.2\"";
  EXPECT_EQ(Samples(text, "trelvane_requests_total"),
            "trelvane_requests_total" + labels + "} 48\n");
  // 1 ms goes in the first bucket, 2 ms in the second; 20 ms is on the 0.02 bound, inside it.
  EXPECT_EQ(Samples(text, "trelvane_response_seconds"),
            "trelvane_response_seconds_bucket" + labels + ",le=\"0.001\"} 2\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.005\"} 4\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.01\"} 4\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.02\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.05\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.1\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.2\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"0.5\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"1\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"2\"} 36\n" +
                "trelvane_response_seconds_bucket" + labels + ",le=\"+Inf\"} 36\n" +
                "trelvane_response_seconds_sum" + labels + "} 0.646\n" +
                "trelvane_response_seconds_count" + labels + "} 36\n");
  EXPECT_EQ(Samples(text, "trelvane_last_"),
            "trelvane_last_loss_ratio" + labels + "} 0.25\n" + "trelvane_last_response_seconds" +
                labels + "} 0.018\n" + "trelvane_last_measurement_timestamp_seconds" + labels +
                "} 1796680060\n");
  EXPECT_EQ(Samples(text, "trelvane_link_state"), "trelvane_link_state" + labels + "} 0\n");
  EXPECT_EQ(Samples(text, "trelvane_build_info"), "trelvane_build_info{version=\"0.4.0\"} 1\n");
  EXPECT_EQ(text.find("# EOF"), std::string::npos);
}

TEST(MetricsTest, OpenMetricsNamesCounterFamiliesAndEnds) {
  Metrics metrics = TwoBurstsAndOneDropped();
  // A burst with nothing answered: no last response time, the link down.
  for (int n = 1; n <= 24; ++n) metrics.AddReply("Timeout", "10.199.77.2");
  metrics.AddMeasurement(100, 2000, 1796680120, LinkCondition::kDown);
  const std::string text = metrics.Exposition(true, "0.4.0");
  EXPECT_NE(text.find("# TYPE trelvane_requests counter\ntrelvane_requests_total{"),
            std::string::npos);
  EXPECT_NE(text.find("# TYPE trelvane_response_seconds histogram\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("} 1\n# EOF\n"));
  EXPECT_EQ(Samples(text, "trelvane_last_response_seconds"), "");
  EXPECT_NE(
      text.find("trelvane_last_loss_ratio{target=\"lab \\\"two\\\"\",address=\"10.199.77.2\"} 1\n"),
      std::string::npos);
  EXPECT_NE(
      text.find("trelvane_link_state{target=\"lab \\\"two\\\"\",address=\"10.199.77.2\"} 2\n"),
      std::string::npos);
  // Before any measurement: counters at zero, no last figures and no state.
  const std::string fresh = Metrics().Exposition(false, "0.4.0");
  EXPECT_NE(fresh.find("trelvane_requests_total{target=\"\",address=\"\"} 0\n"), std::string::npos);
  EXPECT_EQ(Samples(fresh, "trelvane_last_") + Samples(fresh, "trelvane_link_state"), "");
  EXPECT_TRUE(
      Metrics::WantsOpenMetrics("application/openmetrics-text;version=1.0.0,text/plain;q=0.5"));
  EXPECT_FALSE(Metrics::WantsOpenMetrics("text/plain;version=0.0.4;q=1,*/*;q=0.1"));
  EXPECT_EQ(LabelValue("a\\b\nc\"d"), "a\\\\b\\nc\\\"d");
}

TEST(MetricsTest, TheFileIsReplacedWholeOrLeftAsItWas) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("trelvane-metrics-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "trelvane.prom").string();
  ASSERT_EQ(WriteFileWhole(path, "old\n"), std::nullopt);
  ASSERT_EQ(WriteFileWhole(path, "new\n"), std::nullopt);
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "new\n");
  struct stat status = {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644U);  // the collector may run as another user
  // A folder that is not there: an error, and nothing left behind anywhere.
  EXPECT_NE(WriteFileWhole((folder / "gone" / "x.prom").string(), "x\n"), std::nullopt);
  // A path that is a folder: the rename fails, the temporary file goes.
  std::filesystem::create_directories(folder / "taken");
  EXPECT_NE(WriteFileWhole((folder / "taken").string(), "x\n"), std::nullopt);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            2);
  std::filesystem::remove_all(folder);
}

TEST(MetricsTest, ListenAddressesAndAddressTexts) {
  auto parsed = [](std::string_view text) {
    const std::optional<MetricsAddress> a = ParseMetricsAddress(text);
    return a ? a->address + " " + std::to_string(a->port) : std::string("-");
  };
  EXPECT_EQ(parsed("9105"), "127.0.0.1 9105");
  EXPECT_EQ(parsed("0.0.0.0:9105"), "0.0.0.0 9105");
  EXPECT_EQ(parsed("[::1]:80"), "::1 80");
  for (const std::string_view wrong :
       {"", ":9105", "::1:80", "[::1]", "host:0", "x:65536", "9105x", "[]:1", "1:-2"}) {
    EXPECT_EQ(parsed(wrong), "-") << wrong;
  }
  Ipv6Address six;
  six.bytes = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(AddressText(six), "2001:db8::1:0:0:1");  // the first of two equal runs
  six.bytes = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(AddressText(six), "::1");
  six.bytes = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  six.scope_id = 3;
  EXPECT_EQ(AddressText(six), "fe80::%3");
  six.bytes = {0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7};
  six.scope_id = 0;
  EXPECT_EQ(AddressText(six), "1:0:2:3:4:5:6:7");  // one zero group stays
  const unsigned char four[4] = {10, 199, 77, 2};
  Address address = 0;
  std::memcpy(&address, four, 4);
  EXPECT_EQ(AddressText(address), "10.199.77.2");
}

}  // namespace
}  // namespace trelvane
