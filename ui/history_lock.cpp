#include "ui/history_lock.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalSocket>

namespace trelvane {
namespace {

constexpr int kAnswerWaitMs = 2000;
const QByteArray kShowRequest = "show\n";

// A name for the local socket that only this user's programs on this history file share.
QString ServerName(const QString& history_path) {
  const QString absolute = QFileInfo(history_path).absoluteFilePath();
  const QByteArray digest =
      QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  return QStringLiteral("trelvane-%1-%2").arg(qEnvironmentVariable("USER")).arg(QString(digest));
}

}  // namespace

HistoryLock::HistoryLock(const QString& history_path, QObject* parent)
    : QObject(parent), server_name_(ServerName(history_path)), lock_(history_path + ".lock") {
  // A running program keeps its lock however long it runs: only a dead holder's lock is stale.
  lock_.setStaleLockTime(0);
}

HistoryLock::~HistoryLock() = default;

HistoryLock::State HistoryLock::TryLock() {
  if (!lock_.tryLock(0)) {
    return lock_.error() == QLockFile::LockFailedError ? State::kHeldElsewhere : State::kUnlockable;
  }
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(server_name_);  // left by a holder that died: ours now
  server_->listen(server_name_);
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (!client->readAll().startsWith(kShowRequest.trimmed())) return;
        client->write("ok\n");
        client->flush();
        emit ShowRequested();
      });
    }
  });
  return State::kHeld;
}

qint64 HistoryLock::HolderPid() const {
  qint64 pid = 0;
  QString host;
  QString application;
  return lock_.getLockInfo(&pid, &host, &application) ? pid : 0;
}

bool HistoryLock::AskHolderToShow() const {
  QLocalSocket socket;
  socket.connectToServer(server_name_);
  if (!socket.waitForConnected(kAnswerWaitMs)) return false;
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(kAnswerWaitMs)) return false;
  return socket.waitForReadyRead(kAnswerWaitMs) && socket.readAll().startsWith("ok");
}

}  // namespace trelvane
