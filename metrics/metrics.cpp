#include "metrics/metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace trelvane {
namespace {

// A whole number of thousandths as a decimal: 23 → "0.023", 1500 → "1.5", 2000 → "2".
std::string Thousandths(std::int64_t value) {
  std::string text = std::to_string(value / 1000);
  int fraction = static_cast<int>(value % 1000);
  if (fraction == 0) return text;
  char digits[8];
  std::snprintf(digits, sizeof(digits), ".%03d", fraction);
  std::string tail = digits;
  while (tail.back() == '0') tail.pop_back();
  return text + tail;
}

// A bucket's bound as its label: 0.001 → "0.001", 1 → "1".
std::string BoundText(double seconds) { return Thousandths(std::llround(seconds * 1000)); }

}  // namespace

std::string LabelValue(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

void Metrics::AddReply(std::string_view result, std::string_view address) {
  ++pending_.requests;
  if (!address.empty()) address_ = std::string(address);
  const std::optional<int> round_trip_ms = RoundTripOf(result);
  if (!round_trip_ms) return;
  ++pending_.replies;
  pending_.round_trip_sum_ms += *round_trip_ms;
  std::size_t bucket = 0;
  // Whole milliseconds against bounds of whole milliseconds: no rounding between the two.
  while (bucket < kBuckets.size() && *round_trip_ms > std::llround(kBuckets[bucket] * 1000)) {
    ++bucket;
  }
  ++pending_.buckets[bucket];
}

void Metrics::Add(Counts& to, const Counts& from) {
  to.requests += from.requests;
  to.replies += from.replies;
  to.round_trip_sum_ms += from.round_trip_sum_ms;
  for (std::size_t i = 0; i < to.buckets.size(); ++i) to.buckets[i] += from.buckets[i];
}

void Metrics::AddMeasurement(int loss_percent, int response_ms, std::int64_t unix_seconds,
                             LinkCondition condition) {
  Add(counts_, pending_);
  pending_ = {};
  last_loss_ = loss_percent;
  // Nothing answered: no response time to give.
  if (loss_percent < 100) {
    last_response_ms_ = response_ms;
  } else {
    last_response_ms_.reset();
  }
  last_unix_seconds_ = unix_seconds;
  condition_ = condition;
}

std::string_view Metrics::ContentType(bool open_metrics) {
  return open_metrics ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
                      : "text/plain; version=0.0.4; charset=utf-8";
}

bool Metrics::WantsOpenMetrics(std::string_view accept) {
  return accept.find("application/openmetrics-text") != std::string_view::npos;
}

std::string Metrics::Exposition(bool open_metrics, std::string_view version) const {
  const std::string labels =
      "target=\"" + LabelValue(target_) + "\",address=\"" + LabelValue(address_) + "\"";
  std::string text;
  // A family's heading; a counter's family is named without "_total" in OpenMetrics.
  auto family = [&](std::string_view name, std::string_view type, std::string_view help) {
    std::string heading(name);
    if (open_metrics && type == "counter") heading.resize(heading.size() - 6);
    text += "# HELP " + heading + " " + std::string(help) + "\n";
    text += "# TYPE " + heading + " " + std::string(type) + "\n";
  };
  auto sample = [&](std::string_view name, const std::string& extra, const std::string& value) {
    text += std::string(name) + "{" + labels + extra + "} " + value + "\n";
  };
  family("trelvane_requests_total", "counter", "Echo requests sent in complete bursts.");
  sample("trelvane_requests_total", "", std::to_string(counts_.requests));
  family("trelvane_replies_total", "counter", "Echo requests of complete bursts answered.");
  sample("trelvane_replies_total", "", std::to_string(counts_.replies));
  family("trelvane_response_seconds", "histogram",
         "Round-trip times of answered echo requests, in whole milliseconds.");
  std::int64_t cumulative = 0;
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    cumulative += counts_.buckets[i];
    sample("trelvane_response_seconds_bucket", ",le=\"" + BoundText(kBuckets[i]) + "\"",
           std::to_string(cumulative));
  }
  sample("trelvane_response_seconds_bucket", ",le=\"+Inf\"", std::to_string(counts_.replies));
  sample("trelvane_response_seconds_sum", "", Thousandths(counts_.round_trip_sum_ms));
  sample("trelvane_response_seconds_count", "", std::to_string(counts_.replies));
  if (last_loss_) {
    family("trelvane_last_loss_ratio", "gauge", "Loss of the last measurement, from 0 to 1.");
    sample("trelvane_last_loss_ratio", "", Thousandths(std::int64_t{*last_loss_} * 10));
  }
  if (last_response_ms_) {
    family("trelvane_last_response_seconds", "gauge",
           "Response time of the last measurement (none when nothing was answered).");
    sample("trelvane_last_response_seconds", "", Thousandths(*last_response_ms_));
  }
  if (last_unix_seconds_) {
    family("trelvane_last_measurement_timestamp_seconds", "gauge",
           "When the last measurement was taken, in seconds since the epoch.");
    sample("trelvane_last_measurement_timestamp_seconds", "", std::to_string(*last_unix_seconds_));
  }
  if (condition_ != LinkCondition::kUnknown) {
    family("trelvane_link_state", "gauge", "The link: 0 up, 1 degraded, 2 down.");
    const int state = condition_ == LinkCondition::kUp         ? 0
                      : condition_ == LinkCondition::kDegraded ? 1
                                                               : 2;
    sample("trelvane_link_state", "", std::to_string(state));
  }
  family("trelvane_build_info", "gauge", "The program's version.");
  text += "trelvane_build_info{version=\"" + LabelValue(version) + "\"} 1\n";
  if (open_metrics) text += "# EOF\n";
  return text;
}

std::optional<std::string> WriteFileWhole(const std::string& path, std::string_view text) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = (slash == std::string::npos ? "./" : folder) + ".trelvane-metrics-XXXXXX";
  std::vector<char> temporary(name.begin(), name.end());
  temporary.push_back('\0');
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return std::string(std::strerror(errno));
  auto fail = [&](int error) {
    close(fd);
    unlink(temporary.data());
    return std::optional<std::string>(std::strerror(error));
  };
  // Readable by the collector, which may run as another user.
  if (fchmod(fd, 0644) != 0) return fail(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) {
    const int error = errno;
    unlink(temporary.data());
    return std::string(std::strerror(error));
  }
  if (std::rename(temporary.data(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.data());
    return std::string(std::strerror(error));
  }
  return std::nullopt;
}

}  // namespace trelvane
