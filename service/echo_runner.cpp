#include "service/echo_runner.h"

#include <QMetaObject>
#include <QObject>
#include <thread>

#include "probe/pinger.h"

namespace trelvane {

ThreadedEchoRunner::ThreadedEchoRunner(std::shared_ptr<EchoService> service)
    : service_(std::move(service)),
      context_(std::make_unique<QObject>()),
      link_(std::make_shared<Link>()) {
  link_->context = context_.get();
}

ThreadedEchoRunner::~ThreadedEchoRunner() {
  const std::lock_guard<std::mutex> lock(link_->mutex);
  link_->context = nullptr;
}

void ThreadedEchoRunner::Ping(const std::string& host, Done done) {
  std::thread([service = service_, link = link_, host, done = std::move(done)]() mutable {
    PingResult result = Pinger(*service).PingResultFor(host);
    // Posting under the lock: the context cannot be destroyed between the test and the post, and
    // Qt drops events still queued for an object when it is destroyed.
    const std::lock_guard<std::mutex> lock(link->mutex);
    if (link->context == nullptr) return;
    QMetaObject::invokeMethod(
        link->context, [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
  }).detach();
}

}  // namespace trelvane
