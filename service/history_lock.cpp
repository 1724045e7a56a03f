#include "service/history_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

namespace trelvane {
namespace {

constexpr int kAnswerWaitMs = 2000;
constexpr std::string_view kShowRequest = "show\n";
constexpr std::string_view kShowAnswer = "ok\n";

// A socket path that only this user's programs on this history file share.
QString SocketPath(const QString& history_path) {
  const QString absolute = QFileInfo(history_path).absoluteFilePath();
  const QByteArray digest =
      QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
  return QDir::tempPath() +
         QStringLiteral("/trelvane-%1-%2").arg(qEnvironmentVariable("USER")).arg(QString(digest));
}

std::optional<sockaddr_un> AddressOf(const QString& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray bytes = QFile::encodeName(path);
  if (bytes.size() >= static_cast<qsizetype>(sizeof address.sun_path)) return std::nullopt;
  std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
  return address;
}

// Waits until `fd` is ready for `events` or the time is up.
bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd watched{fd, events, 0};
  int ready = 0;
  do {
    ready = ::poll(&watched, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready == 1;
}

}  // namespace

HistoryLock::HistoryLock(const QString& history_path, QObject* parent)
    : QObject(parent), socket_path_(SocketPath(history_path)), lock_(history_path + ".lock") {
  // A running program keeps its lock however long it runs: only a dead holder's lock is stale.
  lock_.setStaleLockTime(0);
}

HistoryLock::~HistoryLock() {
  for (auto& [client, notifier] : clients_) {
    notifier.reset();
    ::close(client);
  }
  listening_.reset();
  if (listener_ >= 0) {
    ::close(listener_);
    ::unlink(QFile::encodeName(socket_path_).constData());
  }
}

HistoryLock::State HistoryLock::TryLock() {
  if (!lock_.tryLock(0)) {
    return lock_.error() == QLockFile::LockFailedError ? State::kHeldElsewhere : State::kUnlockable;
  }
  const std::optional<sockaddr_un> address = AddressOf(socket_path_);
  if (!address) return State::kHeld;  // the lock alone: a second start is refused, not answered
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return State::kHeld;
  // A socket left by a holder that died is ours now: we hold the lock.
  ::unlink(address->sun_path);
  // Only this user may connect: the socket is made with no rights for anyone else.
  const mode_t mask = ::umask(077);
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
  ::umask(mask);
  if (!bound || ::listen(fd, 4) != 0) {
    ::close(fd);
    return State::kHeld;
  }
  listener_ = fd;
  listening_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(listening_.get(), &QSocketNotifier::activated, this, &HistoryLock::Accept);
  return State::kHeld;
}

void HistoryLock::Accept() {
  int client = -1;
  while ((client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
    // A peer that never writes keeps one descriptor until it goes; a handful at most.
    if (clients_.size() >= 8) {
      ::close(client);
      continue;
    }
    auto notifier = std::make_unique<QSocketNotifier>(client, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, client] { Answer(client); });
    clients_.emplace(client, std::move(notifier));
  }
}

void HistoryLock::Answer(int client) {
  char request[16];
  const ssize_t got = ::recv(client, request, sizeof request, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  const bool show =
      got > 0 &&
      std::string_view(request, static_cast<size_t>(got)).starts_with(kShowRequest.substr(0, 4));
  if (show) ::send(client, kShowAnswer.data(), kShowAnswer.size(), MSG_NOSIGNAL);
  clients_.erase(client);
  ::close(client);
  if (show) emit ShowRequested();
}

qint64 HistoryLock::HolderPid() const {
  qint64 pid = 0;
  QString host;
  QString application;
  return lock_.getLockInfo(&pid, &host, &application) ? pid : 0;
}

bool HistoryLock::AskHolderToShow() const {
  const std::optional<sockaddr_un> address = AddressOf(socket_path_);
  if (!address) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool shown = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 &&
      ::send(fd, kShowRequest.data(), kShowRequest.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(kShowRequest.size()) &&
      WaitFor(fd, POLLIN, kAnswerWaitMs)) {
    char answer[8];
    const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    shown = got > 0 && std::string_view(answer, static_cast<size_t>(got)).starts_with("ok");
  }
  ::close(fd);
  return shown;
}

}  // namespace trelvane
