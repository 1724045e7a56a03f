// The link's condition and the alerts it makes, measurement by measurement, a minute apart.

#include "alert/link_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"

namespace trelvane {
namespace {

// Feeds losses a minute apart from `start` (a negative loss: the host's name does not exist;
// kStop: the run stops) and writes down each condition and event as one word each:
// "up", "degraded", "down", "unknown", then "+down" or "+back(the recovery's text)".
constexpr int kStop = -100;
std::vector<std::string> Feed(const std::vector<int>& losses,
                              LocalTime start = {2026, 12, 6, 14, 1, 30},
                              AlertSettings settings = {}) {
  testing::FakeClock clock(start);
  clock.StepEachReading(60);
  LinkState state(settings);
  std::vector<std::string> seen;
  for (const int loss : losses) {
    const std::string stamp = FormatStamp(clock.Now());
    if (loss == kStop) {
      state.Reset();
      seen.emplace_back("stop");
      continue;
    }
    const auto event =
        state.Add(Measurement{stamp, std::to_string(loss < 0 ? 100 : loss), "0"}, loss < 0);
    static const char* const kWords[] = {"unknown", "up", "degraded", "down"};
    std::string word = kWords[static_cast<int>(state.condition())];
    if (event && event->kind == LinkEvent::Kind::kWentDown) word += "+down";
    if (event && event->kind == LinkEvent::Kind::kRecovered)
      word += "+back(" + AlertTextOf(*event, "h").body + ")";
    seen.push_back(word);
  }
  return seen;
}

using Words = std::vector<std::string>;

TEST(LinkStateTest, OutagesAndRecoveriesAreToldOnceAndFlapsNever) {
  EXPECT_EQ(Feed({0, 100, 0, 100, 4}), (Words{"up", "up", "up", "up", "up"}));
  EXPECT_EQ(Feed({0, 100, 100, 100, 0, 0}),
            (Words{"up", "up", "down+down", "down",
                   "up+back(Coupure de 3 min (14:02 \u2013 14:04))", "up"}));
  // Down from the first measurements of a run; a recovery with heavy loss is degraded at once.
  EXPECT_EQ(Feed({100, 100, 50, 50}),
            (Words{"up", "down+down", "degraded+back(Coupure de 2 min (14:01 \u2013 14:02))",
                   "degraded"}));
  // Across midnight, the length counts measured minutes.
  EXPECT_EQ(Feed({100, 100, 100, 0}, {2026, 12, 6, 23, 58, 0}).back(),
            "up+back(Coupure de 3 min (23:58 \u2013 00:00))");
  // One lost minute is an outage when the user asks for it.
  AlertSettings eager;
  eager.down_after = 1;
  EXPECT_EQ(Feed({100, 0}, {2026, 12, 6, 14, 1, 0}, eager).front(), "down+down");
}

TEST(LinkStateTest, DegradedFromTheThresholdAfterThreeMeasurements) {
  EXPECT_EQ(Feed({24, 24, 24, 24}), (Words{"up", "up", "up", "up"}));
  EXPECT_EQ(Feed({25, 25, 25, 40, 24}), (Words{"up", "up", "degraded", "degraded", "up"}));
  AlertSettings strict;
  strict.degraded_threshold = 4;
  EXPECT_EQ(Feed({4, 8, 4}, {2026, 12, 6, 14, 1, 0}, strict).back(), "degraded");
}

TEST(LinkStateTest, StopAndAMissingNameEndWhatWasUnderWay) {
  // Stopped during an outage: no recovery is told, and the next run starts unknown.
  EXPECT_EQ(Feed({100, 100, kStop, 0}), (Words{"up", "down+down", "stop", "up"}));
  // A name that does not exist is no outage, however long; a real loss after it starts afresh.
  EXPECT_EQ(Feed({-1, -1, -1, 100, 100}),
            (Words{"unknown", "unknown", "unknown", "up", "down+down"}));
  EXPECT_EQ(Feed({100, 100, -1, 0}), (Words{"up", "down+down", "unknown", "up"}));
}

TEST(LinkStateTest, TheNotificationTexts) {
  const Outage outage{"06.12.2026-14.02", "06.12.2026-14.38", 37};
  const AlertText down = AlertTextOf({LinkEvent::Kind::kWentDown, outage}, "example.org");
  EXPECT_EQ(down.summary + " / " + down.body,
            "Coupure : example.org / Aucune r\u00e9ponse depuis 14.02");
  EXPECT_EQ(AlertTextOf({LinkEvent::Kind::kRecovered, outage}, "h").summary, "R\u00e9tabli : h");
}

}  // namespace
}  // namespace trelvane
