#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QSocketNotifier;

namespace trelvane {

// One running window per history file. A lock file beside the history ("trelvane.txt.lock") says
// who runs; a lock left by a process that is gone is taken over. The holder listens on a local
// socket named after the file, through which a second start asks it to come to the front. The
// socket is the system's own (a Unix-domain socket watched by the event loop): no network module
// is loaded for it.
class HistoryLock : public QObject {
  Q_OBJECT

 public:
  enum class State {
    kHeld,           // this process holds the lock
    kHeldElsewhere,  // another running program does
    kUnlockable,     // no lock file can be made there (an unwritable folder): run without one
  };

  explicit HistoryLock(const QString& history_path, QObject* parent = nullptr);
  ~HistoryLock() override;

  // Takes the lock, or tells who holds it.
  State TryLock();
  // The process id of the program that holds the lock, 0 when unknown.
  qint64 HolderPid() const;
  // Asks the holder to bring its window to the front; true when it took the request.
  bool AskHolderToShow() const;

 signals:
  // A second start asked this window to come to the front.
  void ShowRequested();

 private:
  void Accept();
  void Answer(int client);

  QString socket_path_;
  QLockFile lock_;
  int listener_ = -1;
  std::unique_ptr<QSocketNotifier> listening_;
  std::map<int, std::unique_ptr<QSocketNotifier>> clients_;
};

}  // namespace trelvane
