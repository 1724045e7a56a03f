#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "history/trace_file.h"
#include "probe/echo_service.h"

namespace trelvane {

// Takes traces in the background, one at a time, and appends each to the traces file beside the
// history: the measurement cycle never waits on one (a trace has sockets of its own).
class TraceTaker {
 public:
  using Done = std::function<void(const StoredTrace& trace)>;
  TraceTaker(std::shared_ptr<EchoService> service, const std::string& history_path);
  ~TraceTaker();
  TraceTaker(const TraceTaker&) = delete;
  TraceTaker& operator=(const TraceTaker&) = delete;

  // Starts a trace of `host` for the measurement of `stamp` in run `run_key`, unless one is under
  // way (false then). Once it is written, `done` runs on the thread that made the taker; a block
  // that cannot be written is told on stderr.
  bool Take(const std::string& host, const std::string& stamp, const std::string& run_key,
            Done done);

 private:
  struct Link {
    std::mutex mutex;
    QObject* context = nullptr;
    bool busy = false;
  };
  std::shared_ptr<EchoService> service_;
  std::string path_;
  std::unique_ptr<QObject> context_;
  std::shared_ptr<Link> link_;
};

}  // namespace trelvane
