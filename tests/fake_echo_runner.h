#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/echo_runner.h"

namespace trelvane::testing {

// Holds every request until the test completes it, so a test decides when each reply arrives.
class FakeEchoRunner final : public EchoRunner {
 public:
  void Ping(const std::string& host, Done done) override {
    hosts.push_back(host);
    pending.push_back(std::move(done));
  }

  // Delivers the oldest pending request's result, as the event loop would.
  void Complete(const std::string& result, bool not_permitted = false) {
    Done done = std::move(pending.front());
    pending.pop_front();
    done(PingResult{result, not_permitted});
  }

  std::deque<Done> pending;
  std::vector<std::string> hosts;
};

}  // namespace trelvane::testing
