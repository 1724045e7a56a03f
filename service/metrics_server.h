#pragma once

#include <QAbstractHttpServer>
#include <QTcpServer>
#include <functional>
#include <string>

#include "cli/command_line.h"
#include "metrics/metrics.h"

namespace trelvane {

// Takes connections for the metrics server, within bounds: at most kMaxConnections open at once
// (the others are closed at once), and each closed kIdleMs after it opened or after its last
// answer, whatever the client still sends: a client that never finishes its request, or holds
// its connection, costs a socket for a few seconds only.
class BoundedTcpServer final : public QTcpServer {
  Q_OBJECT

 public:
  static constexpr int kMaxConnections = 256;
  static constexpr int kIdleMs = 10000;
  explicit BoundedTcpServer(QObject* parent = nullptr) : QTcpServer(parent) {}
  // A request was answered on `socket`: its time starts again.
  static void Answered(QTcpSocket* socket);
  int open_connections() const { return open_; }

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  int open_ = 0;
};

// Serves GET /metrics: the text `exposition(open_metrics)` gives, in Prometheus's text format or
// in OpenMetrics when the scraper's Accept asks for it. Any other path is 404, any other method
// 405. Requests are read by Qt's HTTP server, whose parser bounds a request's head.
class MetricsServer final : public QAbstractHttpServer {
  Q_OBJECT

 public:
  using Exposition = std::function<std::string(bool open_metrics)>;
  explicit MetricsServer(Exposition exposition, QObject* parent = nullptr);
  // Listens at `where`; false with `error` when the address is not one or cannot be taken.
  bool Listen(const MetricsAddress& where, std::string& error);

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  Exposition exposition_;
  BoundedTcpServer* tcp_;
};

}  // namespace trelvane
