#pragma once
// The few things the archive's SQL does differently per database engine. The
// schema and every query are written once; where an engine needs other words
// (column types, connection set-up, the schema version, how a write
// transaction starts, what an error code means) they come from here.
#include <QByteArrayView>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>
#include <optional>

class QSqlDatabase;

// Why a write or an open failed, as far as the program acts on it.
enum class ArchiveFailure {
  None,
  DiskFull,      // no space left on the disk
  ReadOnly,      // the file or its folder cannot be written
  Locked,        // another connection held the database beyond the busy timeout
  WriteError,    // the disk refused a write (input/output error, file size limit)
  CannotOpen,    // the file or its folder cannot be created or opened
  NotAnArchive,  // the file is not a database
  NewerSchema,   // the archive was written by a newer program
  Damaged,       // the database file is corrupt
  Replaced,      // the open file was deleted, or another file put at its path
  Other,
};

// The rows of one query, read forward one at a time without copying: what
// bytes() returns stays valid until the next call of next().
class RowStream {
 public:
  virtual ~RowStream() = default;
  virtual bool next() = 0;  // false at the end, or on an error
  virtual QSqlError error() const = 0;
  virtual bool isNull(int column) const = 0;
  virtual qint64 integer(int column) const = 0;
  virtual double real(int column) const = 0;
  virtual QByteArrayView bytes(int column) const = 0;  // a blob, or text as UTF-8
};

// A prepared statement run many times with new values; placeholders are
// numbered from 0. exec() runs it and makes it ready for the next values.
class Statement {
 public:
  virtual ~Statement() = default;
  virtual void bindNull(int index) = 0;
  virtual void bindInteger(int index, qint64 value) = 0;
  virtual void bindReal(int index, double value) = 0;
  virtual void bindText(int index, const QString &value) = 0;
  virtual void bindBlob(int index, const QByteArray &value) = 0;
  virtual bool exec() = 0;
  virtual QSqlError error() const = 0;
};

// Many rows written into one table at once, column by column, row by row.
// A batch goes out whenever enough rows have gathered, and at finish().
class BulkInsert {
 public:
  virtual ~BulkInsert() = default;
  virtual void integer(qint64 value) = 0;
  virtual void real(std::optional<double> value) = 0;         // unset: NULL
  virtual void text(std::optional<QByteArrayView> utf8) = 0;  // unset: NULL
  virtual void blob(QByteArrayView bytes) = 0;
  // Ends a row; false when a batch sent now failed (see error()).
  virtual bool endRow() = 0;
  // Sends what is left; false on failure.
  virtual bool finish() = 0;
  // Rows the database has taken so far.
  virtual qint64 rowsWritten() const = 0;
  virtual QSqlError error() const = 0;
};

class SqlDialect {
 public:
  virtual ~SqlDialect() = default;

  // Qt SQL driver name.
  virtual QString driverName() const = 0;
  // Whether the archive is a file (whose folder is made before opening and
  // whose permissions explain a failed open), or a database server.
  virtual bool usesFile() const { return true; }
  // Points a connection at `target`: a file path, or a server's connection
  // string. False, with a reason in `error`, when `target` is malformed.
  virtual bool configure(QSqlDatabase &db, const QString &target, QString *error) const;
  // Statements run on every new connection.
  virtual QStringList connectionSetup() const = 0;
  // Schema text with its type placeholders replaced: {id} an auto-numbered
  // primary key, {int64} a 64-bit integer, {real} a double, {blob} bytes,
  // and {clustered} after a table stored in its primary key's order.
  virtual QString schemaText(QString text) const = 0;
  // The schema version stored in the database (0 for a new, empty one).
  virtual int schemaVersion(QSqlDatabase &db, QSqlError *error) const = 0;
  virtual bool setSchemaVersion(QSqlDatabase &db, int version, QSqlError *error) const = 0;
  // Starts a transaction that takes the write lock at once, so that two
  // writers queue up instead of failing halfway through.
  virtual QString beginWriteStatement() const = 0;
  // Run after beginWriteStatement() before the schema is made or migrated,
  // where a write transaction alone does not keep two programs from doing it
  // at once; empty when it does.
  virtual QString schemaLockStatement() const { return QString(); }
  // A bulk writer into `table` (`columns` in the order values are given).
  // The default sends multi-row INSERTs with every value bound.
  virtual std::unique_ptr<BulkInsert> bulkInsert(const QSqlDatabase &db, const QString &table,
                                                 const QString &columns) const;
  // Sorts an engine error into the failures the program tells apart.
  virtual ArchiveFailure classify(const QSqlError &error) const = 0;
  // Runs a query with `values` bound to its placeholders, in order. The
  // default reads through Qt SQL; an engine may read natively.
  virtual std::unique_ptr<RowStream> streamRows(const QSqlDatabase &db, const QString &sql,
                                                const QVariantList &values) const;
  // Prepares a statement for many runs; nothing when it does not compile
  // (see `error`). The default goes through Qt SQL.
  virtual std::unique_ptr<Statement> prepare(const QSqlDatabase &db, const QString &sql,
                                             QSqlError *error) const;
};

// The embedded engine: one file, write-ahead log, foreign keys, busy timeout.
std::unique_ptr<SqlDialect> MakeSqliteDialect();

// A PostgreSQL server through Qt's QPSQL driver. The target is a libpq
// connection string, as a URL (postgresql://user@host:port/dbname) or as
// key=value pairs; a password comes from PGPASSWORD or ~/.pgpass. A statement
// running longer than `statementTimeoutMs` is stopped by the server, and TCP
// keepalives notice a server or network that is gone.
std::unique_ptr<SqlDialect> MakePostgresDialect(int statementTimeoutMs = 60000);

// How long a connection waits for another one's write lock.
constexpr int kArchiveBusyTimeoutMs = 5000;
