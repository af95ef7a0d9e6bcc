#include "archive/sql_dialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {

class SqliteDialect final : public SqlDialect {
 public:
  QString driverName() const override { return QStringLiteral("QSQLITE"); }

  QStringList connectionSetup() const override {
    return {
        QStringLiteral("PRAGMA busy_timeout = %1").arg(kArchiveBusyTimeoutMs),
        QStringLiteral("PRAGMA foreign_keys = ON"),
        // The log survives a crash of the process; NORMAL only gives up the
        // last commits on a power cut, and saves a disk flush per commit.
        QStringLiteral("PRAGMA journal_mode = WAL"),
        QStringLiteral("PRAGMA synchronous = NORMAL"),
    };
  }

  QString schemaText(QString text) const override {
    text.replace(QLatin1String("{id}"), QLatin1String("INTEGER PRIMARY KEY"));
    text.replace(QLatin1String("{int64}"), QLatin1String("INTEGER"));
    text.replace(QLatin1String("{real}"), QLatin1String("REAL"));
    text.replace(QLatin1String("{blob}"), QLatin1String("BLOB"));
    return text;
  }

  int schemaVersion(QSqlDatabase &db, QSqlError *error) const override {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
      if (error) *error = q.lastError();
      return -1;
    }
    return q.value(0).toInt();
  }

  bool setSchemaVersion(QSqlDatabase &db, int version, QSqlError *error) const override {
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version))) return true;
    if (error) *error = q.lastError();
    return false;
  }

  QString beginWriteStatement() const override { return QStringLiteral("BEGIN IMMEDIATE"); }

  ArchiveFailure classify(const QSqlError &error) const override {
    if (error.type() == QSqlError::NoError) return ArchiveFailure::None;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;  // primary result code
    if (!ok) return ArchiveFailure::Other;
    switch (code) {
      case 5:   // SQLITE_BUSY
      case 6:   // SQLITE_LOCKED
        return ArchiveFailure::Locked;
      case 8:   // SQLITE_READONLY
      case 3:   // SQLITE_PERM
        return ArchiveFailure::ReadOnly;
      case 13:  // SQLITE_FULL
        return ArchiveFailure::DiskFull;
      case 10:  // SQLITE_IOERR
        return ArchiveFailure::WriteError;
      case 14:  // SQLITE_CANTOPEN
        return ArchiveFailure::CannotOpen;
      case 26:  // SQLITE_NOTADB
      case 11:  // SQLITE_CORRUPT
        return ArchiveFailure::NotAnArchive;
      default:
        return ArchiveFailure::Other;
    }
  }
};

}  // namespace

std::unique_ptr<SqlDialect> MakeSqliteDialect() { return std::make_unique<SqliteDialect>(); }
