#include "archive/recorder.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QUuid>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <vector>

#include "archive/archive.h"

namespace {

using Clock = std::chrono::steady_clock;

// The most queued items one transaction takes while catching up.
constexpr size_t kMaxBatchItems = 5000;

struct Payload {
  RecordingInfo recording;
  DownloadInfo download;
  QByteArray block;
};

// One queued piece of work. Readings, by far the most, carry no allocation.
struct Op {
  enum Type : quint8 { Begin, Reading, End, Download };
  Type type = Reading;
  quint8 high = 0, low = 0, code = 0;
  int serial = 0;  // the recording, as numbered by this Recorder
  qint64 ms = 0;
  std::shared_ptr<const Payload> payload;
};

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// Which file a path names: its device and inode; unset when there is none.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId &o) const { return device == o.device && inode == o.inode; }
  bool operator!=(const FileId &o) const { return !(*this == o); }
};

std::optional<FileId> FileAt(const QString &path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

}  // namespace

struct Recorder::Shared {
  QString path;
  Recorder *owner = nullptr;  // signals are posted to it; it outlives the thread

  mutable std::mutex m;
  std::condition_variable wake;  // the writer waits on it
  std::condition_variable idle;  // flush() waits on it
  std::deque<Op> queue;
  Clock::time_point oldestQueuedAt;
  size_t inFlight = 0;  // items of the batch the writer holds
  // The batch being written. Changed only with the lock held; the writer
  // reads it without the lock while it writes.
  std::deque<Op> batch;
  qint64 inFlightReadings = 0, inFlightDownloads = 0;
  qint64 queuedDownloads = 0;
  // Every recording begun, by serial, for writing it again elsewhere.
  std::unordered_map<int, std::shared_ptr<const Payload>> begun;
  int flushWaiters = 0;
  bool stop = false;
  RecorderStats stats;

  std::thread thread;

  // Writer-side only: the recordings stored so far, by serial, and the file
  // they are stored in.
  struct Stored {
    qint64 id = 0;
    qint64 nextNumber = 1;
  };
  std::unordered_map<int, Stored> stored;
  // The file they were stored in was found deleted or replaced: they are
  // stored again in the next file opened. (Its inode number proves nothing:
  // a new file may get the number of the deleted one once that is closed.)
  bool storedFileLost = false;
  // Writer-side only: the file the open connection has open.
  std::optional<FileId> openFile;
  // Writer-side only: a failure found by the writer itself, not the engine.
  ArchiveFailure ownFailure = ArchiveFailure::None;
  QString ownReason;

  void push(Op op) {
    std::lock_guard<std::mutex> lock(m);
    // The writer sleeps without a deadline while the queue is empty, and
    // looks at the row count itself whenever it comes back from a write: so
    // it needs waking only for the first item and when a batch fills up.
    bool wakeWriter = queue.empty() || op.type != Op::Reading;
    if (queue.empty()) oldestQueuedAt = Clock::now();
    if (op.type == Op::Begin) begun[op.serial] = op.payload;
    if (op.type == Op::Download) ++queuedDownloads;
    if (op.type == Op::Reading) {
      if (stats.queuedReadings >= kMaxQueuedReadings) dropOldestReading();
      ++stats.queuedReadings;
      wakeWriter = wakeWriter || stats.queuedReadings == kBatchRows;
    }
    queue.push_back(std::move(op));
    if (wakeWriter) wake.notify_one();
  }

  void dropOldestReading() {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
      if (it->type == Op::Reading) {
        queue.erase(it);
        --stats.queuedReadings;
        ++stats.droppedReadings;
        return;
      }
    }
  }

  void run();
  bool openArchive(Archive &archive);
  bool write(Archive &archive, qint64 *readings, qint64 *downloads);
  void report(bool ok, const Archive &archive);
};

// Opens the file at the path. When it is another file than the one the open
// recordings were stored in (the old one was deleted or replaced), those
// recordings are stored again in this one: the same uuid, or its entry there
// if it has one already, continued after its last reading.
bool Recorder::Shared::openArchive(Archive &archive) {
  if (!archive.open(path)) return false;
  openFile = FileAt(path);
  if (!storedFileLost) return true;
  std::unordered_map<int, std::shared_ptr<const Payload>> infos;
  {
    std::lock_guard<std::mutex> lock(m);
    infos = begun;
  }
  if (!stored.empty() && !archive.beginWrite()) return false;
  std::unordered_map<int, Stored> moved;
  bool ok = true;
  for (auto it = stored.begin(); ok && it != stored.end(); ++it) {
    RecordingInfo info = infos.at(it->first)->recording;
    if (const std::optional<EntrySummary> there = archive.findEntry(info.uuid)) {
      moved[it->first] = Stored{there->id, there->count + 1};
      continue;
    }
    const std::optional<qint64> id = archive.insertRecording(info);
    ok = id.has_value();
    if (ok) moved[it->first] = Stored{*id, 1};
  }
  if (!stored.empty()) {
    if (!ok || !archive.commit()) {
      archive.rollback();
      archive.close();
      return false;
    }
  }
  stored = std::move(moved);
  storedFileLost = false;
  return true;
}

void Recorder::Shared::run() {
  Archive archive;
  std::unique_lock<std::mutex> lock(m);
  // Open at once, so that an unusable archive is reported before any data.
  lock.unlock();
  const bool opened = openArchive(archive);
  lock.lock();
  if (!opened) report(false, archive);
  Clock::time_point nextRetry = Clock::now();

  for (;;) {
    if (batch.empty()) {
      while (!stop) {
        if (queue.empty()) {
          wake.wait(lock);
          continue;
        }
        if (flushWaiters > 0 || stats.queuedReadings >= kBatchRows) break;
        const Clock::time_point due = oldestQueuedAt + std::chrono::milliseconds(kBatchIntervalMs);
        if (Clock::now() >= due) break;
        wake.wait_until(lock, due);
      }
      if (queue.empty()) break;  // stopping with nothing left
      if (stats.failing && !stop && Clock::now() < nextRetry) {
        wake.wait_until(lock, nextRetry, [this] { return stop; });
      }
      if (queue.size() <= kMaxBatchItems) {
        // The whole queue at once: handed over without moving item by item,
        // so the callers pushing meanwhile hardly ever wait for the lock.
        inFlightReadings += stats.queuedReadings;
        inFlightDownloads += queuedDownloads;
        stats.queuedReadings = 0;
        queuedDownloads = 0;
        batch.swap(queue);
      }
      while (!queue.empty() && batch.size() < kMaxBatchItems) {
        if (queue.front().type == Op::Reading) {
          --stats.queuedReadings;
          ++inFlightReadings;
        } else if (queue.front().type == Op::Download) {
          --queuedDownloads;
          ++inFlightDownloads;
        }
        batch.push_back(std::move(queue.front()));
        queue.pop_front();
      }
      oldestQueuedAt = Clock::now();
      inFlight = batch.size();
    } else {
      // The last attempt failed: wait for the retry, unless stopping.
      wake.wait_until(lock, nextRetry, [this] { return stop; });
    }

    const bool lastTry = stop;
    lock.unlock();
    qint64 readings = 0, downloads = 0;
    ownFailure = ArchiveFailure::None;
    const bool ok = write(archive, &readings, &downloads);
    if (!ok) archive.close();  // the next attempt starts from a fresh connection
    lock.lock();
    report(ok, archive);
    if (ok) {
      stats.committedReadings += readings;
      stats.committedDownloads += downloads;
      batch.clear();
      inFlight = 0;
      inFlightReadings = inFlightDownloads = 0;
    } else {
      // A file found replaced is not retried later: the file now at the
      // path is there to be written.
      const bool replaced = ownFailure == ArchiveFailure::Replaced;
      if (replaced) ++stats.replacedFiles;
      nextRetry = Clock::now() + std::chrono::milliseconds(replaced ? 0 : kRetryIntervalMs);
    }
    idle.notify_all();
    if (lastTry && !ok) break;  // what is left is lost
  }
  inFlight = 0;
  idle.notify_all();
  lock.unlock();
  archive.close();
}

// Called with the lock held. Posts the signals to the owner's thread.
void Recorder::Shared::report(bool ok, const Archive &archive) {
  Recorder *q = owner;
  if (ok) {
    if (!stats.failing) return;
    stats.failing = false;
    QMetaObject::invokeMethod(
        q, [q] { emit q->writeRecovered(); }, Qt::QueuedConnection);
    return;
  }
  ++stats.failedAttempts;
  stats.failure = ownFailure != ArchiveFailure::None ? ownFailure : archive.failure();
  stats.reason = ownFailure != ArchiveFailure::None ? ownReason : archive.errorText();
  if (stats.failing) return;
  stats.failing = true;
  const ArchiveFailure failure = stats.failure;
  const QString reason = stats.reason;
  QMetaObject::invokeMethod(
      q, [q, failure, reason] { emit q->writeFailed(failure, reason); }, Qt::QueuedConnection);
}

// One transaction for the whole batch; on failure nothing of it is kept, in
// the database or in the writer's own bookkeeping.
bool Recorder::Shared::write(Archive &archive, qint64 *readings, qint64 *downloads) {
  if (!archive.isOpen() && !openArchive(archive)) return false;
  if (!archive.beginWrite()) return false;
  const std::unordered_map<int, Stored> before = stored;
  std::unordered_map<qint64, qint64> added;  // recording id -> readings in this batch
  bool ok = true;
  for (const Op &op : batch) {
    switch (op.type) {
      case Op::Begin: {
        RecordingInfo info = op.payload->recording;
        const std::optional<qint64> id = archive.insertRecording(info);
        ok = id.has_value();
        if (ok) stored[op.serial] = Stored{*id, 1};
        break;
      }
      case Op::Reading: {
        const auto it = stored.find(op.serial);
        if (it == stored.end()) break;  // cannot happen: its Begin came first
        ReadingGroup g;
        g.high = op.high;
        g.low = op.low;
        g.code = op.code;
        ok = archive.insertReading(it->second.id, it->second.nextNumber++, op.ms, g);
        ++added[it->second.id];
        ++*readings;
        break;
      }
      case Op::End: {
        const auto it = stored.find(op.serial);
        if (it == stored.end()) break;
        ok = archive.setRecordingEnd(it->second.id, op.ms);
        stored.erase(it);
        break;
      }
      case Op::Download: {
        DownloadInfo info = op.payload->download;
        ok = archive.insertDownload(info, op.payload->block).has_value();
        ++*downloads;
        break;
      }
    }
    if (!ok) break;
  }
  for (auto it = added.begin(); ok && it != added.end(); ++it) {
    ok = archive.addRecordingCount(it->first, it->second);
  }
  // A file deleted (or replaced) while open takes writes without a word, and
  // they are gone with it: commit only into the file still at the path.
  if (ok && (!openFile || FileAt(path) != openFile)) {
    ok = false;
    ownFailure = ArchiveFailure::Replaced;
    storedFileLost = true;
    ownReason = QStringLiteral("the file %1 was deleted or replaced").arg(path);
  }
  if (ok && archive.commit()) return true;
  archive.rollback();
  stored = before;
  *readings = *downloads = 0;
  return false;
}

Recorder::Recorder(const QString &archivePath, QObject *parent)
    : QObject(parent), s_(std::make_shared<Shared>()) {
  s_->path = archivePath;
  s_->owner = this;
  // The database driver is looked up here, on the caller's thread, so that
  // the writer thread does no plugin search of its own: that search matches
  // file names with regular expressions, and with MinGW the state they leave
  // on a thread crashes the program when that thread's storage is torn down.
  QSqlDatabase::isDriverAvailable(MakeSqliteDialect()->driverName());
  s_->thread = std::thread([s = s_] { s->run(); });
}

Recorder::~Recorder() {
  {
    std::lock_guard<std::mutex> lock(s_->m);
    s_->stop = true;
  }
  s_->wake.notify_all();
  s_->thread.join();
}

QString Recorder::archivePath() const { return s_->path; }

QString Recorder::beginRecording(RecordingInfo info) {
  if (currentSerial_ != 0) endRecording();
  if (info.uuid.isEmpty()) info.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (info.startedMs == 0) info.startedMs = NowMs();
  if (info.programVersion.isEmpty()) info.programVersion = ArchiveProgramVersion();
  FillOrigin(info.hostName, info.userName);
  currentSerial_ = ++lastSerial_;
  currentUuid_ = info.uuid;
  // Stored with its first reading: a run that ends without one leaves nothing.
  unstarted_ = std::move(info);
  return currentUuid_;
}

void Recorder::pushBegin() {
  auto payload = std::make_shared<Payload>();
  payload->recording = std::move(*unstarted_);
  unstarted_.reset();
  Op op;
  op.type = Op::Begin;
  op.serial = currentSerial_;
  op.payload = std::move(payload);
  s_->push(std::move(op));
}

bool Recorder::isRecording() const { return currentSerial_ != 0; }
QString Recorder::currentRecording() const { return currentUuid_; }

bool Recorder::appendReading(const ReadingGroup &group) { return appendReading(group, NowMs()); }

bool Recorder::appendReading(const ReadingGroup &group, qint64 utcMs) {
  if (currentSerial_ == 0) return false;
  if (unstarted_) pushBegin();
  Op op;
  op.type = Op::Reading;
  op.high = group.high;
  op.low = group.low;
  op.code = group.code;
  op.serial = currentSerial_;
  op.ms = utcMs;
  s_->push(std::move(op));
  return true;
}

void Recorder::endRecording(std::optional<qint64> utcMs) {
  if (currentSerial_ == 0) return;
  const bool empty = unstarted_.has_value();
  unstarted_.reset();
  if (empty) {
    currentSerial_ = 0;
    currentUuid_.clear();
    return;
  }
  Op op;
  op.type = Op::End;
  op.serial = currentSerial_;
  op.ms = utcMs.value_or(NowMs());
  s_->push(std::move(op));
  currentSerial_ = 0;
  currentUuid_.clear();
}

QString Recorder::recordDownload(DownloadInfo info, const QByteArray &block) {
  if (info.uuid.isEmpty()) info.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (info.utcMs == 0) info.utcMs = NowMs();
  FillOrigin(info.hostName, info.userName);
  const QString uuid = info.uuid;
  auto payload = std::make_shared<Payload>();
  payload->download = std::move(info);
  payload->block = block;
  Op op;
  op.type = Op::Download;
  op.payload = std::move(payload);
  s_->push(std::move(op));
  return uuid;
}

bool Recorder::flush(int timeoutMs) {
  std::unique_lock<std::mutex> lock(s_->m);
  ++s_->flushWaiters;
  s_->wake.notify_one();
  const bool done = s_->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [this] { return s_->queue.empty() && s_->inFlight == 0; });
  --s_->flushWaiters;
  return done && !s_->stats.failing;
}

RecorderStats Recorder::stats() const {
  std::lock_guard<std::mutex> lock(s_->m);
  RecorderStats out = s_->stats;
  out.unsavedReadings = out.queuedReadings + s_->inFlightReadings;
  out.unsavedDownloads = s_->queuedDownloads + s_->inFlightDownloads;
  return out;
}

qint64 Recorder::saveUnsavedTo(Archive &target) const {
  std::vector<Op> ops;
  std::unordered_map<int, std::shared_ptr<const Payload>> infos;
  {
    std::lock_guard<std::mutex> lock(s_->m);
    ops.assign(s_->batch.begin(), s_->batch.end());
    ops.insert(ops.end(), s_->queue.begin(), s_->queue.end());
    infos = s_->begun;
  }
  if (!target.beginWrite()) return -1;
  struct Copy {
    qint64 id = 0;
    qint64 count = 0;
  };
  std::unordered_map<int, Copy> copies;
  qint64 written = 0;
  bool ok = true;
  // The recording of a serial, made on its first reading (or its Begin).
  auto copyOf = [&](int serial) -> Copy * {
    if (const auto it = copies.find(serial); it != copies.end()) return &it->second;
    const auto info = infos.find(serial);
    if (info == infos.end()) return nullptr;
    RecordingInfo r = info->second->recording;
    const std::optional<qint64> id = target.insertRecording(r);
    if (!id) return nullptr;
    return &(copies[serial] = Copy{*id, 0});
  };
  for (const Op &op : ops) {
    switch (op.type) {
      case Op::Begin: break;  // made with its first reading: a run without one leaves nothing
      case Op::Reading: {
        Copy *c = copyOf(op.serial);
        ReadingGroup g;
        g.high = op.high;
        g.low = op.low;
        g.code = op.code;
        ok = c && target.insertReading(c->id, ++c->count, op.ms, g);
        ++written;
        break;
      }
      case Op::End: {
        const auto it = copies.find(op.serial);
        if (it != copies.end()) ok = target.setRecordingEnd(it->second.id, op.ms);
        break;
      }
      case Op::Download: {
        DownloadInfo info = op.payload->download;
        ok = target.insertDownload(info, op.payload->block).has_value();
        ++written;
        break;
      }
    }
    if (!ok) break;
  }
  for (auto it = copies.begin(); ok && it != copies.end(); ++it)
    ok = target.addRecordingCount(it->second.id, it->second.count);
  if (ok && target.commit()) return written;
  target.rollback();
  return -1;
}
