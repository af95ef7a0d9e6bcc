#pragma once
// The measurement archive: every live reading of every recording and every
// downloaded history block, in one database file.
//
// archive/ depends on Qt Core and Qt Sql and on the pure decoding code of
// protocol/; never on widgets. The window, the console tool, the tests and the
// benchmarks use it; the recorder (recorder.h) writes it from its own thread.
//
//   Archive a;
//   if (!a.open(ResolveArchivePath(cliPath))) fail(a.errorText());
//   for (const EntrySummary &e : a.listEntries()) ...       // newest first
//   a.setLabel(EntryKind::Recording, uuid, "A 相 3 号");
//   a.forEachRow(e, [](const ArchivedRow &r) { ...; return true; });
//
// An Archive object is one connection and must be used on the thread that
// opened it. Several objects, threads and processes may use one file at once:
// writers wait for each other up to kArchiveBusyTimeoutMs.
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "archive/archive_types.h"
#include "archive/sql_dialect.h"

// The archive file to use: `explicitPath` when not empty (a --archive
// option), else $ARRESTER_ARCHIVE, else arrester-monitor/archive.sqlite in
// the user's data folder: $XDG_DATA_HOME or ~/.local/share on Linux, the
// application-data folder (%APPDATA%) on Windows.
QString ResolveArchivePath(const QString &explicitPath = QString());

// This program's version as stored with each recording.
QString ArchiveProgramVersion();

class Archive {
 public:
  // The schema version this program writes; open() migrates older files.
  static constexpr int kSchemaVersion = 4;

  explicit Archive(std::unique_ptr<SqlDialect> dialect = MakeSqliteDialect());
  ~Archive();
  Archive(const Archive &) = delete;
  Archive &operator=(const Archive &) = delete;

  // Opens the file, creating its folder, the file and the schema as needed,
  // and brings an older schema up to date. A file from a newer program, or
  // not a database, is refused. False on failure: see errorText()/failure().
  // The path is the dialect's target: a file, or a server's connection
  // string. Without `createSchema` nothing is written: an empty or older
  // database is opened as it is (see storedSchemaVersion()).
  bool open(const QString &path, bool createSchema = true);
  void close();
  bool isOpen() const;
  QString path() const;
  // The schema version the database held when it was opened (0: none).
  int storedSchemaVersion() const;

  // Of the last call that failed; a listing clears them first, so an empty
  // listing with an empty errorText() is an empty archive.
  QString errorText() const;
  ArchiveFailure failure() const;

  // Listings, newest first, each with its count and first and last row.
  QList<EntrySummary> listRecordings();
  QList<EntrySummary> listDownloads();
  QList<EntrySummary> listEntries();  // both kinds merged
  // The one entry whose uuid is `uuidOrPrefix` or starts with it; nothing
  // when none or several match.
  std::optional<EntrySummary> findEntry(const QString &uuidOrPrefix);

  // Sets the label of a recording or download and its modification time.
  bool setLabel(EntryKind kind, const QString &uuid, const QString &label,
                std::optional<qint64> modifiedMs = std::nullopt);

  // Calls `row` for every reading of a recording or group of a download, in
  // number order, until it returns false. Streams: flat memory.
  bool forEachRow(const EntrySummary &entry, const std::function<bool(const ArchivedRow &)> &row);

  // The same rows as a stream of raw columns, for bulk readers (CSV). The
  // stream must be gone before the archive is closed.
  enum RowColumn {
    UtcMsColumn,
    NumberColumn,
    RawColumn,
    CodeColumn,
    KindColumn,
    ValueColumn,
    UnitColumn,
    MilliAmpsColumn,
    TextColumn
  };
  // Only the rows numbered above `afterNumber`.
  std::unique_ptr<RowStream> streamRows(const EntrySummary &entry, qint64 afterNumber = 0);

  // Writing. The convenience calls are one transaction each:
  // Stores a whole recording (info.uuid and startedMs as given, or made).
  QString addRecording(RecordingInfo info, const QList<std::pair<qint64, ReadingGroup>> &readings);
  // Stores one history block: the first min(announced, whole groups) groups.
  QString addDownload(DownloadInfo info, const QByteArray &block);

  // The building blocks, between beginWrite() and commit() (rollback() on
  // any failure). The recorder batches many of them into one transaction.
  bool beginWrite();
  bool commit();
  void rollback();
  // Between beginWrite() and commit() or rollback(): code that writes
  // beside the archive (the register) joins the caller's transaction.
  bool isWriting() const;
  std::optional<qint64> insertRecording(RecordingInfo &info);  // fills in uuid and version
  bool insertReading(qint64 recordingId, qint64 number, qint64 utcMs, const ReadingGroup &group);
  bool addRecordingCount(qint64 recordingId, qint64 added);  // keeps the listing summary
  bool setRecordingEnd(qint64 recordingId, qint64 endedMs);
  std::optional<qint64> insertDownload(DownloadInfo &info, const QByteArray &block);

  // Copying between archives (the team server). What an archive holds of
  // each entry of a kind, by uuid; nothing on failure.
  struct StoredEntry {
    qint64 id = 0;
    qint64 count = 0;
    QString label;
    std::optional<qint64> labelModifiedMs;
  };
  std::optional<QHash<QString, StoredEntry>> storedEntries(EntryKind kind);
  // Notes that an entry is on the team server, as of `syncedMs`.
  bool markSynced(EntryKind kind, const QString &uuid, qint64 syncedMs);
  // In a write: an entry listed by another archive, without its rows; its id
  // here. A recording starts with no readings counted.
  std::optional<qint64> insertEntryCopy(const EntrySummary &entry);
  // In a write: the rows of another archive's streamRows() under entry `id`,
  // many rows a statement; `progress` gets the running total. The number of
  // rows stored, or -1.
  qint64 appendRows(EntryKind kind, qint64 id, RowStream &rows,
                    const std::function<void(qint64)> &progress = nullptr);
  bool setRecordingTotals(qint64 recordingId, qint64 count, std::optional<qint64> endedMs);

  // The connection itself, for checks such as PRAGMA integrity_check.
  QSqlDatabase database() const;
  // The engine's own words, for code that runs its own statements on the
  // connection (the register).
  const SqlDialect &dialect() const;

 private:
  // One downloads row, without its groups.
  std::optional<qint64> insertDownloadRow(const DownloadInfo &info, int announced, qint64 received,
                                          bool complete, const QByteArray &digest = QByteArray());

  struct Impl;
  std::unique_ptr<Impl> d;
};
