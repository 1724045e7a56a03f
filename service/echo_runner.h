#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "probe/echo_service.h"
#include "probe/pinger.h"

namespace trelvane {

// Runs echo requests for the window without blocking it.
class EchoRunner {
 public:
  using Done = std::function<void(const PingResult& result)>;
  virtual ~EchoRunner() = default;
  // Sends one request to `host` (Ping's result text comes back); `done` runs later on the UI
  // thread, never inside this call.
  virtual void Ping(const std::string& host, Done done) = 0;
};

// Each request runs Pinger::Ping on a thread of its own and posts its result back to the thread
// that created the runner. A request still waiting when the runner goes away finishes on its own
// and its result is dropped; closing the window never waits for a timeout.
class ThreadedEchoRunner final : public EchoRunner {
 public:
  explicit ThreadedEchoRunner(std::shared_ptr<EchoService> service);
  ~ThreadedEchoRunner() override;
  void Ping(const std::string& host, Done done) override;

 private:
  struct Link {
    std::mutex mutex;
    QObject* context;
  };
  std::shared_ptr<EchoService> service_;
  std::unique_ptr<QObject> context_;
  std::shared_ptr<Link> link_;
};

}  // namespace trelvane
