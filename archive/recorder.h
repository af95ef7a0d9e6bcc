#pragma once
// The archive's writer for a program that must never wait for the disk.
//
//   Recorder rec(ResolveArchivePath());             // starts its writer thread
//   connect(&rec, &Recorder::writeFailed, ...);     // once per failure episode
//   connect(&rec, &Recorder::writeRecovered, ...);
//   rec.beginRecording({.. portName, device, lineSettings ..});
//   rec.appendReading(group);                       // per live reading: a queue push
//   rec.endRecording();
//   rec.recordDownload(info, block);                // one handled history block
//
// Calls only queue work and return at once. A writer thread with its own
// connection commits the queue in batches: when kBatchRows readings wait, or
// kBatchIntervalMs after the oldest waiting item was queued, whichever comes
// first, one transaction each. If a commit fails (disk full, read-only file or
// folder, locked beyond the busy timeout) the batch stays in memory and is
// retried every kRetryIntervalMs; meanwhile at most kMaxQueuedReadings
// readings wait, and beyond that the oldest are dropped and counted. The
// first failure of an episode emits writeFailed, the first success after it
// writeRecovered, both on the thread that owns the Recorder. What has been
// committed survives a crash of the process.
//
// Before each commit the writer makes sure the file it has open is still the
// one at the path (same device and inode). When the file was deleted or
// another put in its place, nothing more goes into the old one: the episode
// is told as a failure (ArchiveFailure::Replaced), and the writer goes on at
// once in the file now at the path (a new one if none), where a recording
// still open starts again with the readings not yet committed.
//
// What is not committed yet can be written into another archive at any time
// (saveUnsavedTo), so that a window closing on a failing archive can keep it.
//
// Methods are called from the owner's thread. One recording is open at a time.
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "archive/archive_types.h"
#include "archive/sql_dialect.h"

class Archive;

struct RecorderStats {
  qint64 queuedReadings = 0;  // waiting, not counting a batch being written
  qint64 committedReadings = 0;
  qint64 committedDownloads = 0;
  qint64 droppedReadings = 0;                     // discarded because the queue was full
  qint64 failedAttempts = 0;                      // failed commits (and opens), all episodes
  qint64 unsavedReadings = 0;                     // queued or in the batch being written, not committed
  qint64 unsavedDownloads = 0;                    // likewise
  qint64 replacedFiles = 0;                       // times the file at the path was found deleted or replaced
  bool failing = false;                           // the last attempt failed
  ArchiveFailure failure = ArchiveFailure::None;  // of the last failed attempt
  QString reason;                                 // of the last failed attempt
};

class Recorder : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxQueuedReadings = 200000;
  static constexpr int kBatchRows = 100;
  static constexpr int kBatchIntervalMs = 1000;
  static constexpr int kRetryIntervalMs = 1000;

  // Starts the writer, which opens (or creates) the archive at `archivePath`
  // at once; a failure there is the first failure episode.
  explicit Recorder(const QString &archivePath, QObject *parent = nullptr);
  // Makes one last attempt to commit what is queued, then stops the writer.
  ~Recorder() override;

  QString archivePath() const;

  // Opens a new recording (ending an open one first) and returns its uuid.
  // An unset info.startedMs (0) means now; version, uuid, host and user are
  // filled in. It is written with its first reading: a recording that ends
  // without one is not kept.
  QString beginRecording(RecordingInfo info);
  bool isRecording() const;
  QString currentRecording() const;  // uuid, empty when none is open
  // Queues one live reading of the open recording, time stamped now or at
  // `utcMs`. False, and nothing queued, when no recording is open.
  bool appendReading(const ReadingGroup &group);
  bool appendReading(const ReadingGroup &group, qint64 utcMs);
  // Ends the open recording, now or at `utcMs`; nothing when none is open.
  void endRecording(std::optional<qint64> utcMs = std::nullopt);

  // Queues one whole history block (see Archive::insertDownload) and returns
  // the download's uuid. An unset info.utcMs (0) means now.
  QString recordDownload(DownloadInfo info, const QByteArray &block);

  // Blocks until everything queued so far is committed. False when that did
  // not happen within `timeoutMs` (writes are failing, or slow).
  bool flush(int timeoutMs = 10000);

  RecorderStats stats() const;

  // Writes every reading and download not committed yet into `target` (open,
  // another file), in one transaction: each recording they belong to with its
  // metadata and those readings numbered from 1, each download whole. They
  // stay queued here as well. The number of readings plus downloads written,
  // or -1 on failure (target.errorText()).
  qint64 saveUnsavedTo(Archive &target) const;

 signals:
  void writeFailed(ArchiveFailure failure, const QString &reason);
  void writeRecovered();

 private:
  struct Shared;
  std::shared_ptr<Shared> s_;
  // Queues the open recording's metadata, held back until its first reading.
  void pushBegin();

  int currentSerial_ = 0;  // 0: no recording open
  int lastSerial_ = 0;
  QString currentUuid_;
  std::optional<RecordingInfo> unstarted_;  // the open recording, before its first reading
};
