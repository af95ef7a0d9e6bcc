#include "archive/team_sync.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QLocale>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <libpq-fe.h>
#include <mutex>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>

#include "archive/archive.h"
#include "archive/asset_sync.h"

namespace {

// The running sync's way to cancel its statement on the server.
std::atomic<PGcancel *> runningCancel{nullptr};

// libpq's connection under a Qt connection; null when it is not one.
PGconn *NativeConnection(const Archive &archive) {
  const QSqlDatabase db = archive.database();
  const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
  if (!handle.isValid() ||
      (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
    return nullptr;
  return *static_cast<PGconn *const *>(handle.constData());
}

// Holds the cancel object of a connection while it is in use.
class CancelHandle {
 public:
  explicit CancelHandle(PGconn *conn) {
    if (conn) runningCancel.store(PQgetCancel(conn));
  }
  ~CancelHandle() {
    if (PGcancel *c = runningCancel.exchange(nullptr)) PQfreeCancel(c);
  }
  CancelHandle(const CancelHandle &) = delete;
  CancelHandle &operator=(const CancelHandle &) = delete;
};

// Ends a connection on which nothing has happened for too long: shutting its
// socket down wakes whatever waits on it, with an error, even when the server
// is frozen and answers neither statements nor the cancel request.
class Watchdog {
 public:
  Watchdog(int socket, int timeoutSeconds) : socket_(socket), timeout_(std::chrono::seconds(timeoutSeconds)) {
    tick();
    if (socket_ < 0 || timeoutSeconds <= 0) return;
    // The thread takes no signals: an interrupt is the main thread's.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    thread_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

  // Something happened: the time starts again.
  void tick() {
    std::lock_guard<std::mutex> lock(m_);
    last_ = Clock::now();
  }
  bool fired() const { return fired_.load(); }
  // Whether the operation that just failed waited about as long as allowed:
  // the server's statement timeout or a dead connection, not a plain refusal.
  bool waitedTooLong() const {
    std::lock_guard<std::mutex> lock(m_);
    return fired_ || Clock::now() - last_ >= timeout_ * 9 / 10;
  }

 private:
  using Clock = std::chrono::steady_clock;
  void run() {
    std::unique_lock<std::mutex> lock(m_);
    while (!stop_) {
      // A little longer than the server's own statement timeout, which
      // ends a statement with a proper error when the server still works.
      const Clock::time_point due = last_ + timeout_ + std::chrono::seconds(2);
      if (Clock::now() >= due) {
        fired_ = true;
        ::shutdown(socket_, SHUT_RDWR);
        return;
      }
      wake_.wait_until(lock, due);
    }
  }

  int socket_;
  Clock::duration timeout_;
  mutable std::mutex m_;
  std::condition_variable wake_;
  Clock::time_point last_;
  bool stop_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

// A row stream that ends early once the sync is interrupted.
class StoppableRows final : public RowStream {
 public:
  StoppableRows(RowStream &rows, const volatile std::sig_atomic_t *stop) : rows_(rows), stop_(stop) {}
  bool next() override { return !(stop_ && *stop_) && rows_.next(); }
  QSqlError error() const override { return rows_.error(); }
  bool isNull(int column) const override { return rows_.isNull(column); }
  qint64 integer(int column) const override { return rows_.integer(column); }
  double real(int column) const override { return rows_.real(column); }
  QByteArrayView bytes(int column) const override { return rows_.bytes(column); }

 private:
  RowStream &rows_;
  const volatile std::sig_atomic_t *stop_;
};

// An error text on one line: drivers add hints on lines of their own.
QString OneLine(const QString &text) { return text.section(QLatin1Char('\n'), 0, 0).simplified(); }

QString ServerProblem(const Archive &server, bool connected) {
  QString why = OneLine(server.errorText());
  if (why.isEmpty()) why = QStringLiteral("no reason given");
  switch (server.failure()) {
    case ArchiveFailure::CannotOpen:
      return (connected ? QStringLiteral("lost the connection to the team server: ")
                        : QStringLiteral("cannot reach the team server: ")) +
             why;
    case ArchiveFailure::ReadOnly:
      return QStringLiteral("the team server does not let this user write: ") + why;
    case ArchiveFailure::NotAnArchive:
    case ArchiveFailure::NewerSchema:
      return QStringLiteral("the team server's ") + why + QStringLiteral("; nothing was written");
    default: return QStringLiteral("team server: ") + why;
  }
}

QString Counted(qint64 n, const char *one, const char *many) {
  return QLocale(QLocale::English).toString(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// A download that repeats an earlier one byte for byte stays on this
// computer: the server has the earlier one.
bool StaysLocal(const EntrySummary &e) { return !e.repeatOf.isEmpty(); }

// Whether a label stamped `a` was changed after one stamped `b`.
bool Later(std::optional<qint64> a, std::optional<qint64> b) { return a && (!b || *a > *b); }

}  // namespace

SyncReport SyncToServer(Archive &local, const QString &server, const SyncOptions &options) {
  SyncReport report;
  auto failedWith = [&](const Archive &archive) {
    report.outcome = SyncReport::LocalFailed;
    QString why = OneLine(archive.errorText());
    if (why.isEmpty()) why = QStringLiteral("no reason given");
    report.error = archive.failure() == ArchiveFailure::Damaged
                       ? QStringLiteral("local archive is damaged ('arrester-cli check' says where): ") +
                             why + QStringLiteral("; nothing was copied from it")
                       : QStringLiteral("local archive: ") + why;
    return report;
  };
  auto localFailed = [&]() { return failedWith(local); };
  // Everything is read from one snapshot of the local archive, on a
  // connection of its own: a recorder may go on writing meanwhile, and the
  // "synced" marks are written beside it as each entry gets through.
  Archive snapshot;
  if (!snapshot.open(local.path(), false)) return failedWith(snapshot);
  QSqlQuery(snapshot.database()).exec(QStringLiteral("BEGIN"));
  QList<EntrySummary> entries = snapshot.listEntries();
  if (!snapshot.errorText().isEmpty()) return failedWith(snapshot);
  std::reverse(entries.begin(), entries.end());  // oldest first

  const volatile std::sig_atomic_t *stop = options.interrupted;
  auto interrupted = [&]() {
    report.outcome = SyncReport::Interrupted;
    report.error = QStringLiteral("interrupted; the entry being copied was not kept on the team server");
    return report;
  };
  if (stop && *stop) return interrupted();
  Archive remote(MakePostgresDialect(options.timeoutSeconds * 1000));
  bool connected = false;
  std::unique_ptr<Watchdog> watchdog;
  auto serverFailed = [&]() {
    if (stop && *stop) return interrupted();
    if (watchdog && watchdog->waitedTooLong()) {
      report.outcome = SyncReport::TimedOut;
      report.error = QStringLiteral(
                         "the team server did not answer within %1 s (--timeout); "
                         "the entry being copied was not kept")
                         .arg(options.timeoutSeconds);
      return report;
    }
    report.outcome = SyncReport::ServerFailed;
    report.error = ServerProblem(remote, connected);
    return report;
  };
  // A dry run writes nothing, not even the schema of a new server.
  if (!remote.open(server, !options.dryRun)) return serverFailed();
  connected = true;
  PGconn *conn = NativeConnection(remote);
  const CancelHandle cancel(conn);
  watchdog = std::make_unique<Watchdog>(conn ? PQsocket(conn) : -1, options.timeoutSeconds);
  QHash<QString, Archive::StoredEntry> held[2];
  if (remote.storedSchemaVersion() > 0) {
    for (EntryKind kind : {EntryKind::Recording, EntryKind::Download}) {
      std::optional<QHash<QString, Archive::StoredEntry>> s = remote.storedEntries(kind);
      if (!s) return serverFailed();
      held[static_cast<int>(kind)] = std::move(*s);
    }
  }
  auto heldOf = [&held](const EntrySummary &e) -> const Archive::StoredEntry * {
    const QHash<QString, Archive::StoredEntry> &h = held[static_cast<int>(e.kind)];
    const auto it = h.constFind(e.uuid);
    return it == h.constEnd() ? nullptr : &*it;
  };

  qint64 total = 0;
  for (const EntrySummary &e : entries) {
    const Archive::StoredEntry *s = heldOf(e);
    if (!StaysLocal(e)) total += std::max<qint64>(0, e.count - (s ? s->count : 0));
  }
  qint64 done = 0;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();

  for (const EntrySummary &e : entries) {
    if (stop && *stop) return interrupted();
    watchdog->tick();
    if (StaysLocal(e)) {
      ++report.repeats;
      continue;
    }
    const bool recording = e.kind == EntryKind::Recording;
    const Archive::StoredEntry *s = heldOf(e);
    // Rows the server lacks: all of a new entry, the tail of a recording
    // that went on after it was last copied.
    const qint64 from = s ? s->count : 0;
    const bool copy = !s || (recording && e.count > s->count);
    if (copy) {
      const qint64 rows = e.count - from;
      (recording ? report.recordings : report.downloads) += 1;
      (recording ? report.readings : report.groups) += rows;
      if (!options.dryRun) {
        if (!remote.beginWrite()) return serverFailed();
        std::optional<qint64> id = s ? std::optional<qint64>(s->id) : remote.insertEntryCopy(e);
        const std::unique_ptr<RowStream> stream = snapshot.streamRows(e, from);
        StoppableRows rowsToCopy(*stream, stop);
        const qint64 before = done;
        const qint64 copied = id ? remote.appendRows(e.kind, *id, rowsToCopy,
                                                     [&](qint64 n) {
                                                       watchdog->tick();
                                                       done = before + n;
                                                       if (options.progress) options.progress(done, total);
                                                     })
                                 : -1;
        if (stop && *stop) {
          remote.rollback();
          return interrupted();
        }
        if (stream->error().type() != QSqlError::NoError) {
          remote.rollback();
          report.outcome = SyncReport::LocalFailed;
          report.error = (MakeSqliteDialect()->classify(stream->error()) == ArchiveFailure::Damaged
                              ? QStringLiteral("local archive is damaged ('arrester-cli check' says where): ")
                              : QStringLiteral("local archive: ")) +
                         OneLine(stream->error().text());
          return report;
        }
        if (!id || copied < 0) {
          remote.rollback();
          return serverFailed();
        }
        if (copied != rows) {
          // Cannot happen with one snapshot; said in plain words if it does.
          remote.rollback();
          report.outcome = SyncReport::LocalFailed;
          report.error =
              QStringLiteral(
                  "local archive: %1 rows of %2 %3 were read where its count says %4; "
                  "nothing of it was kept on the team server")
                  .arg(copied)
                  .arg(recording ? QStringLiteral("recording") : QStringLiteral("download"), e.uuid)
                  .arg(rows);
          return report;
        }
        const bool ok = (!recording || remote.setRecordingTotals(*id, e.count, e.endedMs)) && remote.commit();
        if (!ok) {
          remote.rollback();
          return serverFailed();
        }
      }
    } else {
      ++report.alreadyThere;
    }

    // The label changed last wins; the server's copy above carried ours.
    if (s && s->label != e.label) {
      if (Later(e.labelModifiedMs, s->labelModifiedMs)) {
        ++report.labelsToServer;
        if (!options.dryRun && !remote.setLabel(e.kind, e.uuid, e.label, e.labelModifiedMs))
          return serverFailed();
      } else if (Later(s->labelModifiedMs, e.labelModifiedMs)) {
        ++report.labelsFromServer;
        if (!options.dryRun && !local.setLabel(e.kind, e.uuid, s->label, s->labelModifiedMs))
          return localFailed();
      }
    }
    if (!options.dryRun && (copy || !e.syncedMs) && !local.markSynced(e.kind, e.uuid, now))
      return localFailed();
  }
  if (stop && *stop) return interrupted();
  watchdog->tick();
  if (!SyncAssets(local, remote, options.dryRun, report) && report.outcome == SyncReport::ServerFailed &&
      ((stop && *stop) || watchdog->waitedTooLong()))
    return serverFailed();
  return report;
}

void InterruptSync() {
  // PQcancel is safe in a signal handler; the cancel object stays alive
  // while a sync runs on the thread the signal interrupts.
  if (PGcancel *c = runningCancel.load()) {
    char message[256];
    PQcancel(c, message, sizeof message);
  }
}

QString SyncSummary(const SyncReport &r) {
  QString text = Counted(r.recordings, "recording", "recordings") + QStringLiteral(", ") +
                 Counted(r.readings, "reading", "readings") + QStringLiteral("; ") +
                 Counted(r.downloads, "download", "downloads") + QStringLiteral(", ") +
                 Counted(r.groups, "group", "groups") + QStringLiteral("; ") +
                 QLocale(QLocale::English).toString(r.alreadyThere) + QStringLiteral(" already there");
  if (r.repeats > 0)
    text += QStringLiteral("; ") + Counted(r.repeats, "repeated download", "repeated downloads") +
            QStringLiteral(" left out");
  if (r.labelsToServer > 0)
    text += QStringLiteral("; ") + Counted(r.labelsToServer, "label", "labels") + QStringLiteral(" sent");
  if (r.labelsFromServer > 0)
    text += QStringLiteral("; ") + Counted(r.labelsFromServer, "label", "labels") +
            QStringLiteral(" taken from the server");
  auto registerRows = [](int arresters, int rounds, int results) {
    return Counted(arresters, "arrester", "arresters") + QStringLiteral(", ") +
           Counted(rounds, "round", "rounds") + QStringLiteral(", ") + Counted(results, "result", "results");
  };
  if (r.arrestersSent + r.roundsSent + r.resultsSent > 0)
    text += QStringLiteral("; ") + registerRows(r.arrestersSent, r.roundsSent, r.resultsSent) +
            QStringLiteral(" sent");
  if (r.arrestersTaken + r.roundsTaken + r.resultsTaken > 0)
    text += QStringLiteral("; ") + registerRows(r.arrestersTaken, r.roundsTaken, r.resultsTaken) +
            QStringLiteral(" taken from the server");
  return text;
}
