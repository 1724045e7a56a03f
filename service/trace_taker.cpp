#include "service/trace_taker.h"

#include <QMetaObject>
#include <cstdio>
#include <thread>

#include "probe/trace.h"

namespace trelvane {

TraceTaker::TraceTaker(std::shared_ptr<EchoService> service, const std::string& history_path)
    : service_(std::move(service)),
      path_(TraceFileBeside(history_path)),
      context_(std::make_unique<QObject>()),
      link_(std::make_shared<Link>()) {
  link_->context = context_.get();
}

TraceTaker::~TraceTaker() {
  const std::lock_guard<std::mutex> lock(link_->mutex);
  link_->context = nullptr;
}

bool TraceTaker::Take(const std::string& host, const std::string& stamp, const std::string& run_key,
                      Done done) {
  {
    const std::lock_guard<std::mutex> lock(link_->mutex);
    if (link_->busy) return false;
    link_->busy = true;
  }
  std::thread([service = service_, link = link_, path = path_, host, stamp, run_key,
               done = std::move(done)]() mutable {
    const TraceResult result = TraceHost(*service, host);
    StoredTrace trace{stamp, run_key, result.address, host, {}};
    for (const TraceHop& hop : result.hops) trace.hop_lines.push_back(HopLine(hop));
    if (result.hops.empty()) {
      trace.hop_lines.emplace_back(result.not_permitted ? " *  (no ICMP socket)"
                                                        : " *  (no address)");
    }
    FileError error;
    if (!AppendTrace(path, trace, error)) {
      std::fprintf(stderr, "trelvane: cannot write %s: %s\n", path.c_str(),
                   DescribeError(error).c_str());
    }
    const std::lock_guard<std::mutex> lock(link->mutex);
    link->busy = false;
    if (link->context == nullptr) return;
    QMetaObject::invokeMethod(
        link->context, [done = std::move(done), trace = std::move(trace)] { done(trace); },
        Qt::QueuedConnection);
  }).detach();
  return true;
}

}  // namespace trelvane
