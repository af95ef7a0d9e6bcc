#include "archive/archive.h"
#include "archive/archive_home.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>
#include <algorithm>

#ifndef ARRESTER_PROGRAM_VERSION
#define ARRESTER_PROGRAM_VERSION "0"
#endif

namespace {

// Each schema step takes the database from version i to i + 1. Steps are
// never edited once released; a change of schema is a new step.
const QStringList &MigrationStep(int fromVersion) {
  static const QList<QStringList> steps = {
      {
          QStringLiteral("CREATE TABLE recordings ("
                         " id {id},"
                         " uuid TEXT NOT NULL UNIQUE,"
                         " started_ms {int64} NOT NULL,"
                         " ended_ms {int64},"
                         " port_name TEXT NOT NULL,"
                         " device TEXT NOT NULL,"
                         " line_settings TEXT NOT NULL,"
                         " program_version TEXT NOT NULL,"
                         " label TEXT NOT NULL DEFAULT '',"
                         " label_modified_ms {int64},"
                         " reading_count {int64} NOT NULL DEFAULT 0)"),
          QStringLiteral("CREATE INDEX recordings_by_start ON recordings (started_ms)"),
          // Readings and groups are kept in (entry, number) order, the order
          // in which they are written and read.
          QStringLiteral("CREATE TABLE readings ("
                         " recording_id {int64} NOT NULL REFERENCES recordings (id) ON DELETE CASCADE,"
                         " number {int64} NOT NULL,"
                         " utc_ms {int64} NOT NULL,"
                         " raw {blob} NOT NULL,"
                         " code INTEGER NOT NULL,"
                         " kind TEXT NOT NULL,"
                         " value {real},"
                         " unit TEXT,"
                         " value_ma {real},"
                         " text TEXT NOT NULL,"
                         " PRIMARY KEY (recording_id, number)){clustered}"),
          QStringLiteral("CREATE TABLE downloads ("
                         " id {id},"
                         " uuid TEXT NOT NULL UNIQUE,"
                         " utc_ms {int64} NOT NULL,"
                         " port_name TEXT NOT NULL,"
                         " device TEXT NOT NULL,"
                         " groups_announced INTEGER NOT NULL,"
                         " groups_received INTEGER NOT NULL,"
                         " complete INTEGER NOT NULL,"
                         " label TEXT NOT NULL DEFAULT '',"
                         " label_modified_ms {int64})"),
          QStringLiteral("CREATE INDEX downloads_by_time ON downloads (utc_ms)"),
          QStringLiteral("CREATE TABLE groups ("
                         " download_id {int64} NOT NULL REFERENCES downloads (id) ON DELETE CASCADE,"
                         " number INTEGER NOT NULL,"
                         " raw {blob} NOT NULL,"
                         " code INTEGER NOT NULL,"
                         " kind TEXT NOT NULL,"
                         " value {real},"
                         " unit TEXT,"
                         " value_ma {real},"
                         " text TEXT NOT NULL,"
                         " PRIMARY KEY (download_id, number)){clustered}"),
      },
      {
          // When the entry was last found on the team server; unset until then.
          QStringLiteral("ALTER TABLE recordings ADD COLUMN synced_ms {int64}"),
          QStringLiteral("ALTER TABLE downloads ADD COLUMN synced_ms {int64}"),
      },
      {
          // Who made an entry, and where: empty for entries made before.
          QStringLiteral("ALTER TABLE recordings ADD COLUMN host_name TEXT NOT NULL DEFAULT ''"),
          QStringLiteral("ALTER TABLE recordings ADD COLUMN user_name TEXT NOT NULL DEFAULT ''"),
          QStringLiteral("ALTER TABLE downloads ADD COLUMN host_name TEXT NOT NULL DEFAULT ''"),
          QStringLiteral("ALTER TABLE downloads ADD COLUMN user_name TEXT NOT NULL DEFAULT ''"),
          // A digest of the block as received, and the uuid of the download
          // it repeats byte for byte; the latest download of a port is found
          // by the index.
          QStringLiteral("ALTER TABLE downloads ADD COLUMN block_digest {blob}"),
          QStringLiteral("ALTER TABLE downloads ADD COLUMN repeat_of TEXT"),
          QStringLiteral("CREATE INDEX downloads_by_port ON downloads (port_name, device, utc_ms)"),
      },
      {
          // The arrester register, the test rounds and their results. Rows
          // refer to each other by uuid, which stays the same in every
          // archive a row is copied to. Dates are 'YYYY-MM-DD' or NULL.
          // "IF NOT EXISTS": a file whose version was set back by hand keeps
          // the tables it has.
          QStringLiteral("CREATE TABLE IF NOT EXISTS arresters ("
                         " id {id},"
                         " uuid TEXT NOT NULL UNIQUE,"
                         " station TEXT NOT NULL,"
                         " voltage_level TEXT NOT NULL,"
                         " bay TEXT NOT NULL,"
                         " phase TEXT NOT NULL,"
                         " model TEXT NOT NULL DEFAULT '',"
                         " serial_number TEXT NOT NULL DEFAULT '',"
                         " maker TEXT NOT NULL DEFAULT '',"
                         " commissioned TEXT,"
                         " initial_ma {real},"
                         " initial_date TEXT,"
                         " retired INTEGER NOT NULL DEFAULT 0,"
                         " note TEXT NOT NULL DEFAULT '',"
                         " modified_ms {int64} NOT NULL,"
                         " synced_ms {int64})"),
          // Station, voltage level, bay, phase and serial identify an
          // arrester. Not a unique index: two arresters swapping places
          // pass through a moment where both hold one identity, on a sync.
          QStringLiteral("CREATE INDEX IF NOT EXISTS arresters_by_identity"
                         " ON arresters (station, voltage_level, bay, phase, serial_number)"),
          QStringLiteral("CREATE TABLE IF NOT EXISTS rounds ("
                         " id {id},"
                         " uuid TEXT NOT NULL UNIQUE,"
                         " station TEXT NOT NULL,"
                         " test_date TEXT,"
                         " tester TEXT NOT NULL DEFAULT '',"
                         " instrument TEXT NOT NULL DEFAULT '',"
                         " weather TEXT NOT NULL DEFAULT '',"
                         " temperature_c {real},"
                         " humidity_pct {real},"
                         " note TEXT NOT NULL DEFAULT '',"
                         " host_name TEXT NOT NULL DEFAULT '',"
                         " user_name TEXT NOT NULL DEFAULT '',"
                         " modified_ms {int64} NOT NULL,"
                         " synced_ms {int64})"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS rounds_by_station ON rounds (station, test_date)"),
          // One result per arrester and round. A removed result stays as a
          // marked row, so that a sync does not bring it back from the
          // server; reading is 'value', 'overload' or 'invalid'.
          QStringLiteral("CREATE TABLE IF NOT EXISTS results ("
                         " round_uuid TEXT NOT NULL REFERENCES rounds (uuid) ON UPDATE CASCADE,"
                         " arrester_uuid TEXT NOT NULL REFERENCES arresters (uuid) ON UPDATE CASCADE,"
                         " reading TEXT NOT NULL,"
                         " value_ma {real},"
                         " source TEXT NOT NULL,"
                         " source_uuid TEXT NOT NULL DEFAULT '',"
                         " source_group INTEGER NOT NULL DEFAULT 0,"
                         " source_statistic TEXT NOT NULL DEFAULT '',"
                         " operating_kv {real},"
                         " note TEXT NOT NULL DEFAULT '',"
                         " removed INTEGER NOT NULL DEFAULT 0,"
                         " modified_ms {int64} NOT NULL,"
                         " PRIMARY KEY (round_uuid, arrester_uuid)){clustered}"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS results_by_arrester ON results (arrester_uuid)"),
      },
  };
  static_assert(Archive::kSchemaVersion == 4, "one migration step per schema version");
  return steps.at(fromVersion);
}

// The row columns, in the order RowAt reads them.
const char kRowColumns[] = "number, raw, code, kind, value, unit, value_ma, text";
constexpr int kRowColumnCount = 8;

// kRowColumns of the table known as `alias` in a join.
QString PrefixedRowColumns(const QString &alias) {
  QStringList columns = QString::fromLatin1(kRowColumns).split(QStringLiteral(", "));
  for (QString &c : columns) c.prepend(alias);
  return columns.join(QStringLiteral(", "));
}

// Text columns are NOT NULL: an unset QString would bind as NULL.
QString NotNull(const QString &text) { return text.isNull() ? QStringLiteral("") : text; }

QVariant OptionalTime(const std::optional<qint64> &v) {
  return v ? QVariant(*v) : QVariant(QMetaType::fromType<qint64>());
}

std::optional<qint64> TimeAt(const QSqlQuery &q, int i) {
  const QVariant v = q.value(i);
  if (v.isNull()) return std::nullopt;
  return v.toLongLong();
}

std::optional<double> DoubleAt(const QSqlQuery &q, int i) {
  const QVariant v = q.value(i);
  if (v.isNull()) return std::nullopt;
  return v.toDouble();
}

// Reads kRowColumns starting at column `base`.
void ReadRow(const QSqlQuery &q, int base, ArchivedRow &row) {
  row.number = q.value(base).toInt();
  row.raw = q.value(base + 1).toByteArray();
  row.code = q.value(base + 2).toInt();
  row.kind = KindFromName(q.value(base + 3).toString());
  row.value = DoubleAt(q, base + 4);
  row.unit = UnitFromName(q.value(base + 5).toString());
  row.milliAmps = DoubleAt(q, base + 6);
  row.text = q.value(base + 7).toString();
}

std::optional<ArchivedRow> OptionalRowAt(const QSqlQuery &q, int timeColumn, int base) {
  if (q.value(base).isNull()) return std::nullopt;
  ArchivedRow row;
  row.utcMs = q.value(timeColumn).toLongLong();
  ReadRow(q, base, row);
  return row;
}

// The host, user and repeat columns that follow synced_ms in a listing.
void ReadOrigin(const QSqlQuery &q, int base, EntrySummary &e) {
  e.hostName = q.value(base).toString();
  e.userName = q.value(base + 1).toString();
  e.repeatOf = q.value(base + 2).toString();
}

// What identifies a history block: the count the meter announced and every
// byte it sent.
QByteArray BlockDigest(int announced, const QByteArray &block) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArray::number(announced) + ':');
  hash.addData(block);
  return hash.result();
}

QAtomicInteger<quint64> connectionCounter;

QLatin1String TableOf(EntryKind kind) {
  return kind == EntryKind::Recording ? QLatin1String("recordings") : QLatin1String("downloads");
}

}  // namespace

QString ResolveArchivePath(const QString &explicitPath) {
  if (!explicitPath.isEmpty()) return explicitPath;
  const QString fromEnv = qEnvironmentVariable("ARRESTER_ARCHIVE");
  if (!fromEnv.isEmpty()) return fromEnv;
  return DefaultArchiveDataFolder() + QStringLiteral("/arrester-monitor/archive.sqlite");
}

QString ArchiveProgramVersion() { return QStringLiteral(ARRESTER_PROGRAM_VERSION); }

struct Archive::Impl {
  std::unique_ptr<SqlDialect> dialect;
  QString connection;
  QString path;
  QString error;
  ArchiveFailure failure = ArchiveFailure::None;
  int storedVersion = -1;
  bool writing = false;  // between beginWrite() and commit() or rollback()
  // Prepared once per connection: the statements that run per row.
  std::unique_ptr<Statement> insertReading;
  std::unique_ptr<Statement> insertGroup;

  QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }

  bool fail(const QString &what, const QSqlError &e) {
    failure = dialect->classify(e);
    if (failure == ArchiveFailure::None) failure = ArchiveFailure::Other;
    error = what + QStringLiteral(": ") + e.text();
    return false;
  }

  bool fail(const QString &what, ArchiveFailure kind) {
    failure = kind;
    error = what;
    return false;
  }

  bool exec(const QString &sql) {
    QSqlQuery q(db());
    if (q.exec(sql)) return true;
    return fail(sql.section(QLatin1Char(' '), 0, 2), q.lastError());
  }

  // The same, tried again while the file is locked, up to the busy timeout.
  // Switching the journal mode answers "locked" at once, without waiting,
  // while another process is opening the same new file.
  bool execWaitingForLock(const QString &sql) {
    QDeadlineTimer deadline(kArchiveBusyTimeoutMs);
    while (!exec(sql)) {
      if (failure != ArchiveFailure::Locked || deadline.hasExpired()) return false;
      QThread::msleep(20);
    }
    failure = ArchiveFailure::None;  // a lock waited out is no failure
    error.clear();
    return true;
  }

  bool prepare(std::unique_ptr<Statement> &statement, const QString &sql) {
    QSqlError e;
    statement = dialect->prepare(db(), sql, &e);
    return statement || fail(QStringLiteral("prepare"), e);
  }

  // Binds the stored form of a group from placeholder `at` on.
  static void bindRow(Statement &s, int at, qint64 number, const ArchivedRow &r) {
    s.bindInteger(at, number);
    s.bindBlob(at + 1, r.raw);
    s.bindInteger(at + 2, r.code);
    s.bindText(at + 3, KindName(r.kind));
    if (r.value)
      s.bindReal(at + 4, *r.value);
    else
      s.bindNull(at + 4);
    if (r.unit != ReadingUnit::None)
      s.bindText(at + 5, UnitName(r.unit));
    else
      s.bindNull(at + 5);
    if (r.milliAmps)
      s.bindReal(at + 6, *r.milliAmps);
    else
      s.bindNull(at + 6);
    s.bindText(at + 7, r.text);
  }

  bool migrate(bool createSchema);
  // The uuid of the download a new block with `digest` repeats: the latest
  // from the same port and device, when its block was the same. Empty when
  // it repeats none; nothing on failure.
  std::optional<QString> repeatedDownload(const DownloadInfo &info, const QByteArray &digest);
  // The listing of one kind; with `uuid`, only that entry. Empty, with the
  // failure set, when any row could not be read.
  QList<EntrySummary> list(EntryKind kind, const QString &uuid = QString());
  // Up to two uuids of `kind` that start with `prefix`, by the uuid index.
  std::optional<QStringList> uuidsStartingWith(EntryKind kind, const QString &prefix);
};

Archive::Archive(std::unique_ptr<SqlDialect> dialect) : d(std::make_unique<Impl>()) {
  d->dialect = std::move(dialect);
}

Archive::~Archive() { close(); }

bool Archive::open(const QString &path, bool createSchema) {
  close();
  d->path = path;
  d->failure = ArchiveFailure::None;
  d->error.clear();
  d->storedVersion = -1;
  const bool isFile = d->dialect->usesFile();
  const QFileInfo file(path);
  if (isFile && !QDir().mkpath(file.absolutePath())) {
    return d->fail(QStringLiteral("cannot create folder %1").arg(file.absolutePath()),
                   ArchiveFailure::CannotOpen);
  }
  d->connection = QStringLiteral("arrester-archive-%1").arg(++connectionCounter);
  bool opened = false;
  {
    // Scoped: close() cannot drop the connection while a handle is alive.
    QSqlDatabase db = QSqlDatabase::addDatabase(d->dialect->driverName(), d->connection);
    QString why;
    if (!d->dialect->configure(db, path, &why)) {
      d->fail(why, ArchiveFailure::CannotOpen);
    } else {
      opened = db.open();
      if (!opened) {
        d->fail(isFile ? QStringLiteral("cannot open %1").arg(path) : QStringLiteral("cannot connect"),
                db.lastError());
      }
    }
  }
  bool ok = opened;
  for (const QString &sql : d->dialect->connectionSetup()) {
    ok = ok && d->execWaitingForLock(sql);
  }
  ok = ok && d->migrate(createSchema);
  if (ok) return true;
  close();
  // An engine says "cannot open" or "read-only" for the same missing write
  // permission depending on what it tried first; the file system says which.
  if (isFile && (d->failure == ArchiveFailure::CannotOpen || d->failure == ArchiveFailure::Other ||
                 d->failure == ArchiveFailure::ReadOnly)) {
    const QFileInfo now(path);
    const QFileInfo folder(now.absolutePath());
    d->failure = (now.exists() && !now.isWritable()) || !folder.isWritable() ? ArchiveFailure::ReadOnly
                                                                             : ArchiveFailure::CannotOpen;
  }
  return false;
}

bool Archive::Impl::migrate(bool createSchema) {
  QSqlDatabase database = db();
  QSqlError e;
  int version = dialect->schemaVersion(database, &e);
  if (version < 0) return fail(QStringLiteral("cannot read the schema version"), e);
  storedVersion = version;
  if (version == kSchemaVersion) return true;
  if (version > kSchemaVersion) {
    return fail(
        QStringLiteral("archive schema %1 is newer than this program's %2").arg(version).arg(kSchemaVersion),
        ArchiveFailure::NewerSchema);
  }
  if (!createSchema) return true;
  if (!exec(dialect->beginWriteStatement())) return false;
  if (const QString lock = dialect->schemaLockStatement(); !lock.isEmpty() && !exec(lock)) {
    QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
    return false;
  }
  // Another process may have migrated while this one waited for the lock.
  version = dialect->schemaVersion(database, &e);
  bool ok = version >= 0 && version <= kSchemaVersion;
  for (int v = version; ok && v < kSchemaVersion; ++v) {
    for (const QString &sql : MigrationStep(v)) {
      if (!(ok = exec(dialect->schemaText(sql)))) break;
    }
  }
  if (ok && version < kSchemaVersion && !dialect->setSchemaVersion(database, kSchemaVersion, &e)) {
    ok = fail(QStringLiteral("cannot set the schema version"), e);
  }
  if (ok && exec(QStringLiteral("COMMIT"))) {
    storedVersion = kSchemaVersion;
    return true;
  }
  QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
  return false;
}

std::optional<QString> Archive::Impl::repeatedDownload(const DownloadInfo &info, const QByteArray &digest) {
  QSqlQuery q(db());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("SELECT uuid, block_digest, repeat_of FROM downloads"
                     " WHERE port_name = ? AND device = ? ORDER BY utc_ms DESC, id DESC LIMIT 1"));
  q.addBindValue(NotNull(info.portName));
  q.addBindValue(NotNull(info.device));
  if (!q.exec()) {
    fail(QStringLiteral("finding the latest download"), q.lastError());
    return std::nullopt;
  }
  QString repeated;
  // A repeat of a repeat names the first of them.
  if (q.next() && q.value(1).toByteArray() == digest)
    repeated = q.value(2).isNull() ? q.value(0).toString() : q.value(2).toString();
  if (q.lastError().type() != QSqlError::NoError) {
    fail(QStringLiteral("finding the latest download"), q.lastError());
    return std::nullopt;
  }
  return repeated;
}

void Archive::close() {
  d->writing = false;
  d->insertReading.reset();
  d->insertGroup.reset();
  if (d->connection.isEmpty()) return;
  {
    QSqlDatabase db = d->db();
    if (db.isOpen()) db.close();
  }
  QSqlDatabase::removeDatabase(d->connection);
  d->connection.clear();
}

bool Archive::isOpen() const { return !d->connection.isEmpty() && d->db().isOpen(); }
QString Archive::path() const { return d->path; }
QString Archive::errorText() const { return d->error; }
ArchiveFailure Archive::failure() const { return d->failure; }
QSqlDatabase Archive::database() const { return d->db(); }

QList<EntrySummary> Archive::Impl::list(EntryKind kind, const QString &uuid) {
  error.clear();
  failure = ArchiveFailure::None;
  QList<EntrySummary> out;
  QSqlQuery q(db());
  q.setForwardOnly(true);
  const QString only = uuid.isNull() ? QString() : QStringLiteral(" WHERE e.uuid = ?");
  // The first and last rows come from the per-entry count through the unique
  // (entry, number) index, so listing costs the same for any number of rows.
  const QString firstRow = PrefixedRowColumns(QStringLiteral("f."));
  const QString lastRow = PrefixedRowColumns(QStringLiteral("l."));
  const QString sql =
      kind == EntryKind::Recording
          ? QStringLiteral(
                "SELECT e.id, e.uuid, e.started_ms, e.ended_ms, e.port_name, e.device,"
                " e.line_settings, e.program_version, e.label, e.label_modified_ms,"
                " e.reading_count, 0, 1, f.utc_ms, %1, l.utc_ms, %2, e.synced_ms,"
                " e.host_name, e.user_name, NULL"
                " FROM recordings e"
                " LEFT JOIN readings f ON f.recording_id = e.id AND f.number = 1"
                " LEFT JOIN readings l ON l.recording_id = e.id AND l.number = e.reading_count"
                "%3 ORDER BY e.started_ms DESC, e.id DESC")
                .arg(firstRow, lastRow, only)
          : QStringLiteral(
                "SELECT e.id, e.uuid, e.utc_ms, NULL, e.port_name, e.device, '', '',"
                " e.label, e.label_modified_ms, e.groups_received, e.groups_announced,"
                " e.complete, e.utc_ms, %1, e.utc_ms, %2, e.synced_ms,"
                " e.host_name, e.user_name, e.repeat_of"
                " FROM downloads e"
                " LEFT JOIN groups f ON f.download_id = e.id AND f.number = 1"
                " LEFT JOIN groups l ON l.download_id = e.id AND l.number = e.groups_received"
                "%3 ORDER BY e.utc_ms DESC, e.id DESC")
                .arg(firstRow, lastRow, only);
  if (!q.prepare(sql)) {
    fail(QStringLiteral("listing"), q.lastError());
    return out;
  }
  if (!uuid.isNull()) q.addBindValue(uuid);
  if (!q.exec()) {
    fail(QStringLiteral("listing"), q.lastError());
    return out;
  }
  constexpr int kFirstTime = 13;
  constexpr int kLastTime = kFirstTime + 1 + kRowColumnCount;
  while (q.next()) {
    EntrySummary e;
    e.kind = kind;
    e.id = q.value(0).toLongLong();
    e.uuid = q.value(1).toString();
    e.startedMs = q.value(2).toLongLong();
    e.endedMs = TimeAt(q, 3);
    e.portName = q.value(4).toString();
    e.device = q.value(5).toString();
    e.lineSettings = q.value(6).toString();
    e.programVersion = q.value(7).toString();
    e.label = q.value(8).toString();
    e.labelModifiedMs = TimeAt(q, 9);
    e.count = q.value(10).toLongLong();
    e.groupsAnnounced = q.value(11).toInt();
    e.complete = q.value(12).toBool();
    e.first = OptionalRowAt(q, kFirstTime, kFirstTime + 1);
    e.last = OptionalRowAt(q, kLastTime, kLastTime + 1);
    e.syncedMs = TimeAt(q, kLastTime + 1 + kRowColumnCount);
    ReadOrigin(q, kLastTime + 2 + kRowColumnCount, e);
    out.append(std::move(e));
  }
  // The rows end early, without an error from next() itself, when a page of
  // the file cannot be read: half a listing must not pass for a whole one.
  if (q.lastError().type() != QSqlError::NoError) {
    fail(QStringLiteral("listing"), q.lastError());
    out.clear();
  }
  return out;
}

QList<EntrySummary> Archive::listRecordings() { return d->list(EntryKind::Recording); }
QList<EntrySummary> Archive::listDownloads() { return d->list(EntryKind::Download); }

QList<EntrySummary> Archive::listEntries() {
  QList<EntrySummary> all = listRecordings();
  // Each listing clears the failure: a failed first one must not pass.
  if (!d->error.isEmpty()) return {};
  all += listDownloads();
  if (!d->error.isEmpty()) return {};
  std::stable_sort(all.begin(), all.end(),
                   [](const EntrySummary &a, const EntrySummary &b) { return a.startedMs > b.startedMs; });
  return all;
}

std::optional<QStringList> Archive::Impl::uuidsStartingWith(EntryKind kind, const QString &prefix) {
  // Uuids are stored in lower case and only of ASCII letters, digits and
  // dashes. In the file, a range on the unique uuid index finds them without
  // a scan; a server compares text by its own collation, so it matches the
  // prefix itself.
  const QString lower = prefix.toLower();
  QSqlQuery q(db());
  q.setForwardOnly(true);
  q.prepare(
      dialect->usesFile()
          ? QStringLiteral("SELECT uuid FROM %1 WHERE uuid >= ? AND uuid < ? ORDER BY uuid LIMIT 2")
                .arg(TableOf(kind))
          : QStringLiteral("SELECT uuid FROM %1 WHERE substr(uuid, 1, ?) = ? LIMIT 2").arg(TableOf(kind)));
  if (dialect->usesFile()) {
    q.addBindValue(lower);
    q.addBindValue(lower + QChar(0x7f));
  } else {
    q.addBindValue(int(lower.size()));
    q.addBindValue(lower);
  }
  QStringList out;
  if (q.exec()) {
    while (q.next()) out << q.value(0).toString();
  }
  if (q.lastError().type() != QSqlError::NoError) {
    fail(QStringLiteral("finding an entry"), q.lastError());
    return std::nullopt;
  }
  return out;
}

std::optional<EntrySummary> Archive::findEntry(const QString &uuidOrPrefix) {
  d->error.clear();
  d->failure = ArchiveFailure::None;
  if (uuidOrPrefix.isEmpty()) return std::nullopt;
  std::optional<std::pair<EntryKind, QString>> found;
  for (EntryKind kind : {EntryKind::Recording, EntryKind::Download}) {
    const std::optional<QStringList> uuids = d->uuidsStartingWith(kind, uuidOrPrefix);
    if (!uuids) return std::nullopt;
    for (const QString &uuid : *uuids) {
      if (found) return std::nullopt;  // ambiguous
      found = std::make_pair(kind, uuid);
    }
  }
  if (!found) return std::nullopt;
  const QList<EntrySummary> one = d->list(found->first, found->second);
  return one.isEmpty() ? std::nullopt : std::optional<EntrySummary>(one.first());
}

bool Archive::setLabel(EntryKind kind, const QString &uuid, const QString &label,
                       std::optional<qint64> modifiedMs) {
  QSqlQuery q(d->db());
  q.prepare(
      QStringLiteral("UPDATE %1 SET label = ?, label_modified_ms = ? WHERE uuid = ?").arg(TableOf(kind)));
  q.addBindValue(NotNull(label));
  q.addBindValue(modifiedMs.value_or(QDateTime::currentMSecsSinceEpoch()));
  q.addBindValue(uuid);
  if (!q.exec()) return d->fail(QStringLiteral("setting the label"), q.lastError());
  if (q.numRowsAffected() != 1) {
    return d->fail(QStringLiteral("no entry %1").arg(uuid), ArchiveFailure::Other);
  }
  return true;
}

std::unique_ptr<RowStream> Archive::streamRows(const EntrySummary &entry, qint64 afterNumber) {
  const QString sql = entry.kind == EntryKind::Recording
                          ? QStringLiteral(
                                "SELECT utc_ms, %1 FROM readings WHERE recording_id = ? AND number > ?"
                                " ORDER BY number")
                                .arg(QLatin1String(kRowColumns))
                          : QStringLiteral(
                                "SELECT d.utc_ms, %1 FROM groups g JOIN downloads d ON d.id = g.download_id"
                                " WHERE g.download_id = ? AND g.number > ? ORDER BY g.number")
                                .arg(PrefixedRowColumns(QStringLiteral("g.")));
  return d->dialect->streamRows(d->db(), sql, {entry.id, afterNumber});
}

int Archive::storedSchemaVersion() const { return d->storedVersion; }

std::optional<QHash<QString, Archive::StoredEntry>> Archive::storedEntries(EntryKind kind) {
  d->error.clear();
  d->failure = ArchiveFailure::None;
  QSqlQuery q(d->db());
  q.setForwardOnly(true);
  const QString sql =
      kind == EntryKind::Recording
          ? QStringLiteral("SELECT uuid, id, reading_count, label, label_modified_ms FROM recordings")
          : QStringLiteral("SELECT uuid, id, groups_received, label, label_modified_ms FROM downloads");
  if (!q.exec(sql)) {
    d->fail(QStringLiteral("listing"), q.lastError());
    return std::nullopt;
  }
  QHash<QString, StoredEntry> out;
  while (q.next()) {
    StoredEntry e;
    e.id = q.value(1).toLongLong();
    e.count = q.value(2).toLongLong();
    e.label = q.value(3).toString();
    e.labelModifiedMs = TimeAt(q, 4);
    out.insert(q.value(0).toString(), e);
  }
  if (q.lastError().type() != QSqlError::NoError) {
    d->fail(QStringLiteral("listing"), q.lastError());
    return std::nullopt;
  }
  return out;
}

bool Archive::markSynced(EntryKind kind, const QString &uuid, qint64 syncedMs) {
  QSqlQuery q(d->db());
  q.prepare(QStringLiteral("UPDATE %1 SET synced_ms = ? WHERE uuid = ?").arg(TableOf(kind)));
  q.addBindValue(syncedMs);
  q.addBindValue(uuid);
  if (!q.exec()) return d->fail(QStringLiteral("marking as synced"), q.lastError());
  return true;
}

std::optional<qint64> Archive::insertEntryCopy(const EntrySummary &e) {
  if (e.kind == EntryKind::Recording) {
    RecordingInfo info;
    info.uuid = e.uuid;
    info.startedMs = e.startedMs;
    info.endedMs = e.endedMs;
    info.portName = e.portName;
    info.device = e.device;
    info.lineSettings = e.lineSettings;
    info.programVersion = e.programVersion;
    info.label = e.label;
    info.labelModifiedMs = e.labelModifiedMs;
    info.hostName = e.hostName;
    info.userName = e.userName;
    return insertRecording(info);
  }
  DownloadInfo info;
  info.uuid = e.uuid;
  info.utcMs = e.startedMs;
  info.portName = e.portName;
  info.device = e.device;
  info.label = e.label;
  info.labelModifiedMs = e.labelModifiedMs;
  info.hostName = e.hostName;
  info.userName = e.userName;
  return insertDownloadRow(info, e.groupsAnnounced, e.count, e.complete);
}

std::optional<qint64> Archive::insertDownloadRow(const DownloadInfo &info, int announced, qint64 received,
                                                 bool complete, const QByteArray &digest) {
  QSqlQuery q(d->db());
  q.prepare(QStringLiteral(
      "INSERT INTO downloads (uuid, utc_ms, port_name, device, groups_announced, groups_received,"
      " complete, label, label_modified_ms, host_name, user_name, block_digest, repeat_of)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
  q.addBindValue(info.uuid);
  q.addBindValue(info.utcMs);
  q.addBindValue(NotNull(info.portName));
  q.addBindValue(NotNull(info.device));
  q.addBindValue(announced);
  q.addBindValue(received);
  q.addBindValue(complete ? 1 : 0);
  q.addBindValue(NotNull(info.label));
  q.addBindValue(OptionalTime(info.labelModifiedMs));
  q.addBindValue(NotNull(info.hostName));
  q.addBindValue(NotNull(info.userName));
  q.addBindValue(digest.isEmpty() ? QVariant(QMetaType::fromType<QByteArray>()) : QVariant(digest));
  q.addBindValue(info.repeatOf.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                         : QVariant(info.repeatOf));
  if (!q.exec() || !q.next()) {
    d->fail(QStringLiteral("storing a download"), q.lastError());
    return std::nullopt;
  }
  return q.value(0).toLongLong();
}

qint64 Archive::appendRows(EntryKind kind, qint64 id, RowStream &rows,
                           const std::function<void(qint64)> &progress) {
  const bool recording = kind == EntryKind::Recording;
  const std::unique_ptr<BulkInsert> out = d->dialect->bulkInsert(
      d->db(), recording ? QStringLiteral("readings") : QStringLiteral("groups"),
      (recording ? QStringLiteral("recording_id, utc_ms, ") : QStringLiteral("download_id, ")) +
          QLatin1String(kRowColumns));
  auto optionalReal = [&rows](int column) {
    return rows.isNull(column) ? std::nullopt : std::optional<double>(rows.real(column));
  };
  qint64 reported = 0;
  bool ok = true;
  while (ok && rows.next()) {
    out->integer(id);
    if (recording) out->integer(rows.integer(UtcMsColumn));
    out->integer(rows.integer(NumberColumn));
    out->blob(rows.bytes(RawColumn));
    out->integer(rows.integer(CodeColumn));
    out->text(rows.bytes(KindColumn));
    out->real(optionalReal(ValueColumn));
    out->text(rows.isNull(UnitColumn) ? std::nullopt : std::optional<QByteArrayView>(rows.bytes(UnitColumn)));
    out->real(optionalReal(MilliAmpsColumn));
    out->text(rows.bytes(TextColumn));
    ok = out->endRow();
    if (progress && out->rowsWritten() != reported) progress(reported = out->rowsWritten());
  }
  ok = ok && out->finish();
  if (!ok) {
    d->fail(QStringLiteral("storing rows"), out->error());
    return -1;
  }
  if (rows.error().type() != QSqlError::NoError) {
    d->fail(QStringLiteral("reading rows"), rows.error());
    return -1;
  }
  if (progress && out->rowsWritten() != reported) progress(out->rowsWritten());
  return out->rowsWritten();
}

bool Archive::setRecordingTotals(qint64 recordingId, qint64 count, std::optional<qint64> endedMs) {
  QSqlQuery q(d->db());
  q.prepare(QStringLiteral("UPDATE recordings SET reading_count = ?, ended_ms = ? WHERE id = ?"));
  q.addBindValue(count);
  q.addBindValue(OptionalTime(endedMs));
  q.addBindValue(recordingId);
  if (!q.exec()) return d->fail(QStringLiteral("counting readings"), q.lastError());
  return true;
}

bool Archive::forEachRow(const EntrySummary &entry, const std::function<bool(const ArchivedRow &)> &row) {
  const std::unique_ptr<RowStream> rows = streamRows(entry);
  ArchivedRow r;
  auto optional = [&rows](int column) {
    return rows->isNull(column) ? std::nullopt : std::optional<double>(rows->real(column));
  };
  while (rows->next()) {
    r.utcMs = rows->integer(UtcMsColumn);
    r.number = static_cast<int>(rows->integer(NumberColumn));
    r.raw = rows->bytes(RawColumn).toByteArray();
    r.code = static_cast<int>(rows->integer(CodeColumn));
    r.kind = KindFromName(QString::fromUtf8(rows->bytes(KindColumn)));
    r.value = optional(ValueColumn);
    r.unit = UnitFromName(QString::fromUtf8(rows->bytes(UnitColumn)));
    r.milliAmps = optional(MilliAmpsColumn);
    r.text = QString::fromUtf8(rows->bytes(TextColumn));
    if (!row(r)) return true;
  }
  if (rows->error().type() != QSqlError::NoError) {
    return d->fail(QStringLiteral("reading rows"), rows->error());
  }
  return true;
}

bool Archive::beginWrite() { return d->writing = d->exec(d->dialect->beginWriteStatement()); }
bool Archive::commit() {
  if (!d->exec(QStringLiteral("COMMIT"))) return false;
  d->writing = false;
  return true;
}
void Archive::rollback() {
  d->writing = false;
  // A server that dropped the connection has rolled back already.
  if (d->db().isOpen()) QSqlQuery(d->db()).exec(QStringLiteral("ROLLBACK"));
}
bool Archive::isWriting() const { return d->writing; }
const SqlDialect &Archive::dialect() const { return *d->dialect; }

std::optional<qint64> Archive::insertRecording(RecordingInfo &info) {
  if (info.uuid.isEmpty()) info.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (info.programVersion.isEmpty()) info.programVersion = ArchiveProgramVersion();
  QSqlQuery q(d->db());
  q.prepare(
      QStringLiteral("INSERT INTO recordings (uuid, started_ms, ended_ms, port_name, device, line_settings,"
                     " program_version, label, label_modified_ms, host_name, user_name)"
                     " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
  q.addBindValue(info.uuid);
  q.addBindValue(info.startedMs);
  q.addBindValue(OptionalTime(info.endedMs));
  q.addBindValue(NotNull(info.portName));
  q.addBindValue(NotNull(info.device));
  q.addBindValue(NotNull(info.lineSettings));
  q.addBindValue(NotNull(info.programVersion));
  q.addBindValue(NotNull(info.label));
  q.addBindValue(OptionalTime(info.labelModifiedMs));
  q.addBindValue(NotNull(info.hostName));
  q.addBindValue(NotNull(info.userName));
  if (!q.exec() || !q.next()) {
    d->fail(QStringLiteral("storing a recording"), q.lastError());
    return std::nullopt;
  }
  return q.value(0).toLongLong();
}

bool Archive::insertReading(qint64 recordingId, qint64 number, qint64 utcMs, const ReadingGroup &group) {
  if (!d->insertReading &&
      !d->prepare(d->insertReading, QStringLiteral("INSERT INTO readings (recording_id, utc_ms, %1)"
                                                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                        .arg(QLatin1String(kRowColumns)))) {
    return false;
  }
  Statement &s = *d->insertReading;
  s.bindInteger(0, recordingId);
  s.bindInteger(1, utcMs);
  Impl::bindRow(s, 2, number, DescribeGroup(group, false));
  if (!s.exec()) return d->fail(QStringLiteral("storing a reading"), s.error());
  return true;
}

bool Archive::addRecordingCount(qint64 recordingId, qint64 added) {
  QSqlQuery q(d->db());
  q.prepare(QStringLiteral("UPDATE recordings SET reading_count = reading_count + ? WHERE id = ?"));
  q.addBindValue(added);
  q.addBindValue(recordingId);
  if (!q.exec()) return d->fail(QStringLiteral("counting readings"), q.lastError());
  return true;
}

bool Archive::setRecordingEnd(qint64 recordingId, qint64 endedMs) {
  QSqlQuery q(d->db());
  q.prepare(QStringLiteral("UPDATE recordings SET ended_ms = ? WHERE id = ?"));
  q.addBindValue(endedMs);
  q.addBindValue(recordingId);
  if (!q.exec()) return d->fail(QStringLiteral("ending a recording"), q.lastError());
  return true;
}

std::optional<qint64> Archive::insertDownload(DownloadInfo &info, const QByteArray &block) {
  if (info.uuid.isEmpty()) info.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  // A negative count is unknown (the count reply of the read failed): every
  // whole group of the block is kept, and the download is not complete.
  const bool countKnown = info.groupsAnnounced >= 0;
  const int announced = countKnown ? info.groupsAnnounced : kGroupsAnnouncedUnknown;
  const int whole = ReadingGroup::WholeGroupsIn(block);
  const int received = countKnown ? std::min(announced, whole) : whole;
  const QByteArray digest = BlockDigest(announced, block);
  const std::optional<QString> repeated = d->repeatedDownload(info, digest);
  if (!repeated) return std::nullopt;
  info.repeatOf = *repeated;
  const std::optional<qint64> stored =
      insertDownloadRow(info, announced, received, received == announced, digest);
  if (!stored) return std::nullopt;
  const qint64 id = *stored;
  if (!d->insertGroup && !d->prepare(d->insertGroup, QStringLiteral("INSERT INTO groups (download_id, %1)"
                                                                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                                         .arg(QLatin1String(kRowColumns)))) {
    return std::nullopt;
  }
  Statement &g = *d->insertGroup;
  for (int k = 0; k < received; ++k) {
    g.bindInteger(0, id);
    Impl::bindRow(g, 1, k + 1, DescribeGroup(ReadingGroup::At(block, k), true));
    if (!g.exec()) {
      d->fail(QStringLiteral("storing a group"), g.error());
      return std::nullopt;
    }
  }
  return id;
}

QString Archive::addRecording(RecordingInfo info, const QList<std::pair<qint64, ReadingGroup>> &readings) {
  if (!beginWrite()) return QString();
  std::optional<qint64> id = insertRecording(info);
  bool ok = id.has_value();
  qint64 number = 0;
  for (auto it = readings.begin(); ok && it != readings.end(); ++it) {
    ok = insertReading(*id, ++number, it->first, it->second);
  }
  ok = ok && addRecordingCount(*id, number) && commit();
  if (!ok) {
    rollback();
    return QString();
  }
  return info.uuid;
}

QString Archive::addDownload(DownloadInfo info, const QByteArray &block) {
  if (!beginWrite()) return QString();
  if (!insertDownload(info, block) || !commit()) {
    rollback();
    return QString();
  }
  return info.uuid;
}
