#include "service/metrics_server.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace trelvane {

void BoundedTcpServer::Answered(QTcpSocket* socket) {
  if (auto* timer = socket->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
    timer->start();
  }
}

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
  auto* socket = new QTcpSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  if (open_ >= kMaxConnections) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  ++open_;
  connect(socket, &QObject::destroyed, this, [this] { --open_; });
  auto* timer = new QTimer(socket);
  timer->setSingleShot(true);
  timer->setInterval(kIdleMs);
  connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
  timer->start();
  addPendingConnection(socket);
  emit newConnection();
}

MetricsServer::MetricsServer(Exposition exposition, QObject* parent)
    : QAbstractHttpServer(parent),
      exposition_(std::move(exposition)),
      tcp_(new BoundedTcpServer(this)) {}

bool MetricsServer::Listen(const MetricsAddress& where, std::string& error) {
  QHostAddress address;
  if (!address.setAddress(QString::fromStdString(where.address))) {
    error = "not an IP address: '" + where.address + "'";
    return false;
  }
  if (!tcp_->listen(address, static_cast<quint16>(where.port))) {
    error = tcp_->errorString().toStdString();
    return false;
  }
  bind(tcp_);
  return true;
}

bool MetricsServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  if (request.url().path() != QLatin1String("/metrics")) return false;
  QHttpServerResponder responder = makeResponder(request, socket);
  if (request.method() != QHttpServerRequest::Method::Get &&
      request.method() != QHttpServerRequest::Method::Head) {
    responder.write(QHttpServerResponder::StatusCode::MethodNotAllowed);
  } else {
    const bool open_metrics = Metrics::WantsOpenMetrics(request.value("accept").toStdString());
    const std::string text = exposition_(open_metrics);
    const std::string_view type = Metrics::ContentType(open_metrics);
    responder.write(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())),
        {{"Content-Type", QByteArray(type.data(), static_cast<qsizetype>(type.size()))}});
  }
  BoundedTcpServer::Answered(socket);
  return true;
}

void MetricsServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
  BoundedTcpServer::Answered(socket);
}

}  // namespace trelvane
