#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "history/history_report.h"
#include "history/report_encoding.h"

namespace trelvane {
namespace {

// Consecutive measurements further apart than this leave a gap: nothing was measured between.
constexpr std::int64_t kGapMinutes = 2;

// The accumulation of a report, one measurement at a time.
class ReportBuilder {
 public:
  ReportBuilder(Report& report, int loss_threshold)
      : report_(report), loss_threshold_(loss_threshold) {
    report_.response_counts.assign(Report::kMaxCountedMs + 1, 0);
  }

  void BeginRun(const std::string& key, const std::string& host) {
    CloseStretches();
    previous_.reset();
    report_.runs.push_back(RunSummary{key, host, {}, {}, {}});
    run_ = &report_.runs.back();
    run_index_ = report_.runs.size() - 1;
  }

  void Add(const StoredMeasurement& m) {
    RunSummary& run = *run_;
    if (run.tally.measured == 0) run.first = m.at;
    run.last = m.at;
    run.tally.Add(m);
    DayOf(m.minute).tally.Add(m);
    // The figures of the whole period are the days' sums, made at the end.
    if (!any_ || m.at.utc() < report_.first.utc()) report_.first = m.at;
    if (!any_ || m.at.utc() > report_.last.utc()) report_.last = m.at;
    any_ = true;
    if (previous_ && m.at.utc() - previous_->utc() > kGapMinutes) {
      report_.gaps.push_back(Gap{*previous_, m.at, run_index_});
      CloseStretches();
    } else if (previous_ && m.at.utc() <= previous_->utc()) {
      // The clock was set back (or the zone's rules do not know the change the file went
      // through): no stretch spans the jump, so none gets a length below its count.
      CloseStretches();
    }
    previous_ = m.at;
    Extend(outage_, m.loss == 100, m.at, report_.outages);
    Extend(episode_, m.loss >= loss_threshold_, m.at, report_.episodes);
  }

  void Finish() {
    CloseStretches();
    for (const DaySummary& day : report_.days) {
      const Tally& t = day.tally;
      report_.measured += t.measured;
      report_.available += t.available;
      report_.clean += t.clean;
      report_.loss_sum += t.loss_sum;
      t.responses.ForEach([this](int ms, std::int64_t count) { CountResponses(ms, count); });
    }
  }

 private:
  void CountResponses(int ms, std::int64_t count) {
    report_.max_response_ms = std::max(report_.max_response_ms, ms);
    if (ms <= Report::kMaxCountedMs) {
      report_.response_counts[static_cast<std::size_t>(ms)] += count;
      return;
    }
    auto& slow = report_.slow_counts;
    auto at = std::lower_bound(slow.begin(), slow.end(), std::make_pair(ms, std::int64_t{0}));
    if (at != slow.end() && at->first == ms) {
      at->second += count;
    } else {
      slow.insert(at, {ms, count});
    }
  }

  // The day's figures: most measurements fall on the day of the one before.
  DaySummary& DayOf(std::int64_t minute) {
    const std::int64_t day = minute >= 0 ? minute / 1440 : (minute - 1439) / 1440;
    auto& days = report_.days;
    if (day_ < days.size() && day_number_ == day) return days[day_];
    const CalendarDate date = CivilFromDays(day);
    auto at = std::lower_bound(
        days.begin(), days.end(), day,
        [](const DaySummary& d, std::int64_t n) { return MinuteIndex(d.date, 0, 0) / 1440 < n; });
    if (at == days.end() || !(at->date == date)) at = days.insert(at, DaySummary{date, {}});
    day_ = static_cast<std::size_t>(at - days.begin());
    day_number_ = day;
    return *at;
  }

  void Extend(std::optional<MeasuredStretch>& open, bool in, const Instant& minute,
              std::vector<MeasuredStretch>& done) const {
    if (in) {
      if (open) {
        open->last = minute;
      } else {
        open = MeasuredStretch{minute, minute, run_index_, {}};
      }
    } else if (open) {
      done.push_back(*open);
      open.reset();
    }
  }

  void CloseStretches() {
    if (outage_) report_.outages.push_back(*outage_);
    if (episode_) report_.episodes.push_back(*episode_);
    outage_.reset();
    episode_.reset();
  }

  Report& report_;
  RunSummary* run_ = nullptr;  // the run measurements go to
  std::size_t run_index_ = 0;
  std::size_t day_ = SIZE_MAX;  // the day of the last measurement, in report_.days
  std::int64_t day_number_ = 0;
  int loss_threshold_;
  bool any_ = false;  // a measurement was added
  std::optional<Instant> previous_;
  std::optional<MeasuredStretch> outage_;
  std::optional<MeasuredStretch> episode_;
};

}  // namespace

void ResponseCounts::AddOutside(int ms) {
  const std::int64_t end = base_ + static_cast<std::int64_t>(window_.size());
  const std::int64_t low = window_.empty() ? ms : std::min<std::int64_t>(base_, ms);
  const std::int64_t high = window_.empty() ? ms + 1 : std::max<std::int64_t>(end, ms + 1);
  const bool clear_of_outside = std::none_of(outside_.begin(), outside_.end(), [&](const auto& c) {
    return c.first >= low && c.first < high;
  });
  if (high - low <= static_cast<std::int64_t>(kWindow) && clear_of_outside) {
    // The window grows to take it: the counts keep their values' places.
    std::vector<std::int64_t> grown(static_cast<std::size_t>(high - low), 0);
    std::copy(window_.begin(), window_.end(), grown.begin() + (base_ - low) * !window_.empty());
    window_ = std::move(grown);
    base_ = low;
    ++window_[static_cast<std::size_t>(ms - low)];
    return;
  }
  auto at = std::lower_bound(outside_.begin(), outside_.end(), std::make_pair(ms, std::int64_t{0}));
  if (at != outside_.end() && at->first == ms) {
    ++at->second;
  } else {
    outside_.insert(at, {ms, 1});
  }
}

std::optional<int> ResponseCounts::Percentile(int percent) const {
  if (total_ == 0) return std::nullopt;
  const std::int64_t rank = std::max<std::int64_t>(1, (percent * total_ + 99) / 100);
  std::int64_t seen = 0;
  // Values below the window, the window's, then values above it: smallest first.
  auto below = outside_.begin();
  for (; below != outside_.end() && below->first < base_; ++below) {
    seen += below->second;
    if (seen >= rank) return below->first;
  }
  for (std::size_t i = 0; i < window_.size(); ++i) {
    seen += window_[i];
    if (seen >= rank) return static_cast<int>(base_ + static_cast<std::int64_t>(i));
  }
  for (; below != outside_.end(); ++below) {
    seen += below->second;
    if (seen >= rank) return below->first;
  }
  return Max();
}

std::optional<int> ResponseCounts::Max() const {
  if (total_ == 0) return std::nullopt;
  int max = outside_.empty() ? INT_MIN : outside_.back().first;
  for (std::size_t i = window_.size(); i > 0; --i) {
    if (window_[i - 1] != 0) {
      max = std::max(max, static_cast<int>(base_ + static_cast<std::int64_t>(i) - 1));
      break;
    }
  }
  return max;
}

std::optional<int> Report::ResponsePercentile(int percent) const {
  const std::int64_t n = available;
  if (n == 0) return std::nullopt;
  const std::int64_t rank = std::max<std::int64_t>(1, (percent * n + 99) / 100);
  std::int64_t seen = 0;
  for (std::size_t ms = 0; ms < response_counts.size(); ++ms) {
    seen += response_counts[ms];
    if (seen >= rank) return static_cast<int>(ms);
  }
  for (const auto& [ms, count] : slow_counts) {
    seen += count;
    if (seen >= rank) return ms;
  }
  return max_response_ms;
}

std::string HundredthsOf(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return "0.00";
  const std::int64_t hundredths = part * 10000 / whole;
  char text[32];
  std::snprintf(text, sizeof(text), "%lld.%02lld", static_cast<long long>(hundredths / 100),
                static_cast<long long>(hundredths % 100));
  return text;
}

bool BuildReport(const std::string& path, const ReportOptions& options, Report& report,
                 FileError& error) {
  report = Report{};
  ReportBuilder builder(report, options.loss_threshold);
  const bool ok = ForEachMeasurement(
      path, options, error,
      [&](const std::string& key, const std::string& host) { builder.BeginRun(key, host); },
      [&](const StoredMeasurement& m) { builder.Add(m); });
  builder.Finish();
  return ok;
}

bool BuildHostReports(const std::string& path, const ReportOptions& options,
                      std::vector<HostReport>& reports, FileError& error) {
  reports.clear();
  reports.reserve(16);
  // One builder per host; a report's place never moves once its builder holds it.
  std::vector<std::unique_ptr<HostReport>> built;
  std::vector<std::unique_ptr<ReportBuilder>> builders;
  ReportBuilder* current = nullptr;
  const bool ok = ForEachMeasurement(
      path, options, error,
      [&](const std::string& key, const std::string& host) {
        std::size_t i = 0;
        while (i < built.size() && built[i]->host != host) ++i;
        if (i == built.size()) {
          built.push_back(std::make_unique<HostReport>(HostReport{path, host, Report{}}));
          builders.push_back(
              std::make_unique<ReportBuilder>(built.back()->report, options.loss_threshold));
        }
        current = builders[i].get();
        current->BeginRun(key, host);
      },
      [&](const StoredMeasurement& m) { current->Add(m); });
  for (auto& builder : builders) builder->Finish();
  builders.clear();
  for (auto& report : built) reports.push_back(std::move(*report));
  if (reports.empty()) reports.push_back(HostReport{path, {}, Report{}});
  return ok;
}

std::string HostText(const std::string& host) {
  return host.empty() ? std::string(kUnknownHost) : Utf8Of(host);
}

ReportFigures::ReportFigures(const Tally& tally)
    : median(tally.responses.Percentile(50).value_or(-1)),
      p95(tally.responses.Percentile(95).value_or(-1)),
      max(tally.responses.Max().value_or(-1)),
      availability(HundredthsOf(tally.available, tally.measured)),
      clean(HundredthsOf(tally.clean, tally.measured)),
      mean_loss(HundredthsOf(tally.loss_sum, tally.measured * 100)) {}

ReportFigures::ReportFigures(const Report& report)
    : median(report.ResponsePercentile(50).value_or(-1)),
      p95(report.ResponsePercentile(95).value_or(-1)),
      max(median >= 0 ? report.max_response_ms : -1),
      availability(HundredthsOf(report.available, report.measured)),
      clean(HundredthsOf(report.clean, report.measured)),
      mean_loss(HundredthsOf(report.loss_sum, report.measured * 100)) {}

std::vector<StretchRow> RowsOf(const std::vector<MeasuredStretch>& stretches) {
  std::vector<StretchRow> rows;
  rows.reserve(stretches.size());
  for (const MeasuredStretch& s : stretches) {
    rows.push_back({s.first, s.last, s.minutes(), s.run, s.minutes(), s.trace});
  }
  return rows;
}

void AttachTraces(Report& report, const std::string& history_path) {
  if (report.outages.empty()) return;
  // The outages' runs, to keep only the traces they may take.
  auto minute_of = [](const std::string& stamp) {
    const std::optional<StoredMeasurement> m = ReadMeasurementLine(stamp + " 0 0");
    return m ? std::optional<std::int64_t>(m->minute) : std::nullopt;
  };
  auto during = [&](const StoredTrace& trace, const MeasuredStretch& outage) {
    const std::optional<std::int64_t> minute = minute_of(trace.stamp);
    return minute && trace.run_key == report.runs[outage.run].key &&
           *minute >= outage.first.local && *minute <= outage.last.local;
  };
  FileError error;
  ReadTraces(
      TraceFileBeside(history_path),
      [&](const StoredTrace& trace) {
        for (const MeasuredStretch& outage : report.outages) {
          if (during(trace, outage)) return true;
        }
        return false;
      },
      report.traces, error);
  for (MeasuredStretch& outage : report.outages) {
    for (std::size_t i = 0; i < report.traces.size() && !outage.trace; ++i) {
      if (during(report.traces[i], outage)) outage.trace = i;
    }
  }
}

std::string LastHopText(const Report& report, const StretchRow& row) {
  if (!row.trace) return {};
  const std::optional<StoredTrace::Hop> hop = report.traces[*row.trace].LastAnswering();
  if (!hop) return "aucun saut joignable";
  return "dernier saut joignable : " + std::to_string(hop->number) + " \u2014 " + hop->address;
}

std::vector<StretchRow> RowsOf(const std::vector<Gap>& gaps) {
  std::vector<StretchRow> rows;
  rows.reserve(gaps.size());
  for (const Gap& g : gaps) rows.push_back({g.before, g.after, g.missing_minutes(), g.run, 0, {}});
  return rows;
}

void WriteReport(const Report& report, const ReportOptions& options, const std::string& path,
                 ReportFormat format, std::FILE* out) {
  switch (format) {
    case ReportFormat::kText:
      WriteTextReport(report, options, path, out);
      return;
    case ReportFormat::kCsv:
      WriteCsvReport(report, options, path, true, out);
      return;
    case ReportFormat::kJson:
      WriteJsonReport(report, options, path, out);
      return;
    case ReportFormat::kHtml:
    case ReportFormat::kMarkdown:
      WriteReports(
          {HostReport{path, report.runs.empty() ? std::string() : report.runs[0].host, report}},
          options, format, out);
      return;
  }
}

}  // namespace trelvane
