#include "archive/sql_dialect.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>
#include <algorithm>
#include <vector>

namespace {

QSqlError NativeError(sqlite3 *db) {
  return QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                   QString::number(sqlite3_extended_errcode(db)));
}

// Reads through Qt SQL: every value is copied into a QVariant on the way.
class QueryRowStream final : public RowStream {
 public:
  QueryRowStream(const QSqlDatabase &db, const QString &sql, const QVariantList &values) : q_(db) {
    q_.setForwardOnly(true);
    ok_ = q_.prepare(sql);
    for (const QVariant &v : values) q_.addBindValue(v);
    ok_ = ok_ && q_.exec();
  }
  bool next() override {
    cache_.clear();
    return ok_ && q_.next();
  }
  QSqlError error() const override { return q_.lastError(); }
  bool isNull(int column) const override { return q_.isNull(column); }
  qint64 integer(int column) const override { return q_.value(column).toLongLong(); }
  double real(int column) const override { return q_.value(column).toDouble(); }
  QByteArrayView bytes(int column) const override {
    const QVariant v = q_.value(column);
    cache_.push_back(v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8());
    return cache_.back();
  }

 private:
  QSqlQuery q_;
  bool ok_ = false;
  mutable std::vector<QByteArray> cache_;  // what bytes() handed out for this row
};

// Reads straight from the engine: no copy, no allocation per row.
class SqliteRowStream final : public RowStream {
 public:
  SqliteRowStream(sqlite3 *db, const QString &sql, const QVariantList &values) : db_(db) {
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
      fail();
      return;
    }
    for (int i = 0; i < values.size(); ++i) {
      const QVariant &v = values[i];
      int rc;
      switch (v.isNull() ? QMetaType::UnknownType : v.typeId()) {
        case QMetaType::UnknownType: rc = sqlite3_bind_null(stmt_, i + 1); break;
        case QMetaType::Double: rc = sqlite3_bind_double(stmt_, i + 1, v.toDouble()); break;
        case QMetaType::QString: {
          const QByteArray utf8 = v.toString().toUtf8();
          rc = sqlite3_bind_text(stmt_, i + 1, utf8.constData(), static_cast<int>(utf8.size()),
                                 SQLITE_TRANSIENT);
          break;
        }
        case QMetaType::QByteArray: {
          const QByteArray b = v.toByteArray();
          rc = sqlite3_bind_blob(stmt_, i + 1, b.constData(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
          break;
        }
        default: rc = sqlite3_bind_int64(stmt_, i + 1, v.toLongLong()); break;
      }
      if (rc != SQLITE_OK) {
        fail();
        return;
      }
    }
  }
  ~SqliteRowStream() override { sqlite3_finalize(stmt_); }

  bool next() override {
    if (!stmt_ || done_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    if (rc != SQLITE_DONE) fail();
    return false;
  }
  QSqlError error() const override { return error_; }
  bool isNull(int column) const override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  qint64 integer(int column) const override { return sqlite3_column_int64(stmt_, column); }
  double real(int column) const override { return sqlite3_column_double(stmt_, column); }
  QByteArrayView bytes(int column) const override {
    if (sqlite3_column_type(stmt_, column) == SQLITE_BLOB) {
      const void *p = sqlite3_column_blob(stmt_, column);
      return QByteArrayView(static_cast<const char *>(p), sqlite3_column_bytes(stmt_, column));
    }
    const unsigned char *p = sqlite3_column_text(stmt_, column);
    return QByteArrayView(reinterpret_cast<const char *>(p), sqlite3_column_bytes(stmt_, column));
  }

 private:
  void fail() {
    done_ = true;
    error_ = NativeError(db_);
  }

  sqlite3 *db_;
  sqlite3_stmt *stmt_ = nullptr;
  bool done_ = false;
  QSqlError error_;
};

class QueryStatement final : public Statement {
 public:
  explicit QueryStatement(const QSqlDatabase &db) : q_(db) {}
  bool prepare(const QString &sql) { return q_.prepare(sql); }
  void bindNull(int index) override { q_.bindValue(index, QVariant(QMetaType::fromType<int>())); }
  void bindInteger(int index, qint64 value) override { q_.bindValue(index, value); }
  void bindReal(int index, double value) override { q_.bindValue(index, value); }
  void bindText(int index, const QString &value) override {
    q_.bindValue(index, value.isNull() ? QStringLiteral("") : value);
  }
  void bindBlob(int index, const QByteArray &value) override { q_.bindValue(index, value); }
  bool exec() override { return q_.exec(); }
  QSqlError error() const override { return q_.lastError(); }

 private:
  QSqlQuery q_;
};

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt) : db_(db), stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }
  void bindNull(int index) override { sqlite3_bind_null(stmt_, index + 1); }
  void bindInteger(int index, qint64 value) override { sqlite3_bind_int64(stmt_, index + 1, value); }
  void bindReal(int index, double value) override { sqlite3_bind_double(stmt_, index + 1, value); }
  void bindText(int index, const QString &value) override {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(stmt_, index + 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
  }
  void bindBlob(int index, const QByteArray &value) override {
    sqlite3_bind_blob(stmt_, index + 1, value.constData(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  bool exec() override {
    const int rc = sqlite3_step(stmt_);
    const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    if (!ok) error_ = NativeError(db_);
    sqlite3_reset(stmt_);
    return ok;
  }
  QSqlError error() const override { return error_; }

 private:
  sqlite3 *db_;
  sqlite3_stmt *stmt_;
  QSqlError error_;
};

// Multi-row INSERTs with every value bound to a placeholder, never written
// into the statement's text: far fewer round trips than one insert per row,
// and every character (a NUL, a quote, a backslash) goes through as it is.
class InsertBulk final : public BulkInsert {
 public:
  InsertBulk(const QSqlDatabase &db, const QString &table, const QString &columns)
      : db_(db),
        head_(QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns)),
        columns_(int(columns.count(QLatin1Char(','))) + 1),
        // Within the 999 placeholders every SQLite build takes.
        rowsPerStatement_(std::max(1, kMaxPlaceholders / columns_)),
        full_(db) {
    values_.reserve(rowsPerStatement_ * columns_);
  }
  void integer(qint64 value) override { values_.append(value); }
  void real(std::optional<double> value) override {
    values_.append(value ? QVariant(*value) : QVariant(QMetaType::fromType<double>()));
  }
  void text(std::optional<QByteArrayView> utf8) override {
    values_.append(utf8 ? QVariant(QString::fromUtf8(*utf8)) : QVariant(QMetaType::fromType<QString>()));
  }
  void blob(QByteArrayView bytes) override { values_.append(bytes.toByteArray()); }
  bool endRow() override { return ++pending_ < rowsPerStatement_ || finish(); }
  bool finish() override {
    if (pending_ == 0) return true;
    QSqlQuery partial(db_);
    QSqlQuery *q = &full_;
    bool ok = true;
    if (pending_ < rowsPerStatement_) {
      q = &partial;
      ok = partial.prepare(statementText(pending_));
    } else if (!fullPrepared_) {
      ok = fullPrepared_ = full_.prepare(statementText(pending_));
    }
    if (ok) {
      for (int i = 0; i < values_.size(); ++i) q->bindValue(i, values_[i]);
      ok = q->exec();
    }
    if (!ok)
      error_ = q->lastError();
    else
      written_ += pending_;
    pending_ = 0;
    values_.clear();
    return ok;
  }
  qint64 rowsWritten() const override { return written_; }
  QSqlError error() const override { return error_; }

 private:
  static constexpr int kMaxPlaceholders = 999;

  QString statementText(int rows) const {
    const QString row =
        QLatin1Char('(') + QStringLiteral("?, ").repeated(columns_ - 1) + QStringLiteral("?)");
    QString sql = head_ + row;
    for (int i = 1; i < rows; ++i) sql += QStringLiteral(", ") + row;
    return sql;
  }

  QSqlDatabase db_;
  QString head_;
  int columns_;
  int rowsPerStatement_;
  QSqlQuery full_;  // prepared once, for every full batch
  bool fullPrepared_ = false;
  QVariantList values_;
  int pending_ = 0;
  qint64 written_ = 0;
  QSqlError error_;
};

// The engine handle behind a Qt connection, when this program may use it:
// only if Qt's driver runs the very library this program is linked with
// (the same build, by its source id), never a copy of its own.
sqlite3 *NativeHandle(const QSqlDatabase &db) {
  const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
  static const bool sameLibrary = [&db] {
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT sqlite_source_id()")) && q.next() &&
           q.value(0).toString() == QString::fromUtf8(sqlite3_sourceid());
  }();
  return sameLibrary ? *static_cast<sqlite3 *const *>(handle.constData()) : nullptr;
}

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
    text.replace(QLatin1String("{clustered}"), QLatin1String(" WITHOUT ROWID"));
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

  std::unique_ptr<RowStream> streamRows(const QSqlDatabase &db, const QString &sql,
                                        const QVariantList &values) const override {
    if (sqlite3 *native = NativeHandle(db)) return std::make_unique<SqliteRowStream>(native, sql, values);
    return SqlDialect::streamRows(db, sql, values);
  }

  std::unique_ptr<Statement> prepare(const QSqlDatabase &db, const QString &sql,
                                     QSqlError *error) const override {
    sqlite3 *native = NativeHandle(db);
    if (!native) return SqlDialect::prepare(db, sql, error);
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(native, text.constData(), static_cast<int>(text.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      if (error) *error = NativeError(native);
      sqlite3_finalize(stmt);
      return nullptr;
    }
    return std::make_unique<SqliteStatement>(native, stmt);
  }

  ArchiveFailure classify(const QSqlError &error) const override {
    if (error.type() == QSqlError::NoError) return ArchiveFailure::None;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;  // primary result code
    if (!ok) return ArchiveFailure::Other;
    switch (code) {
      case 5:  // SQLITE_BUSY
      case 6:  // SQLITE_LOCKED
        return ArchiveFailure::Locked;
      case 8:  // SQLITE_READONLY
      case 3:  // SQLITE_PERM
        return ArchiveFailure::ReadOnly;
      case 13:  // SQLITE_FULL
        return ArchiveFailure::DiskFull;
      case 10:  // SQLITE_IOERR
        return ArchiveFailure::WriteError;
      case 14:  // SQLITE_CANTOPEN
        return ArchiveFailure::CannotOpen;
      case 26:  // SQLITE_NOTADB
        return ArchiveFailure::NotAnArchive;
      case 11:  // SQLITE_CORRUPT
        return ArchiveFailure::Damaged;
      default: return ArchiveFailure::Other;
    }
  }
};

}  // namespace

std::unique_ptr<BulkInsert> SqlDialect::bulkInsert(const QSqlDatabase &db, const QString &table,
                                                   const QString &columns) const {
  return std::make_unique<InsertBulk>(db, table, columns);
}

bool SqlDialect::configure(QSqlDatabase &db, const QString &target, QString *) const {
  db.setDatabaseName(target);
  return true;
}

std::unique_ptr<RowStream> SqlDialect::streamRows(const QSqlDatabase &db, const QString &sql,
                                                  const QVariantList &values) const {
  return std::make_unique<QueryRowStream>(db, sql, values);
}

std::unique_ptr<Statement> SqlDialect::prepare(const QSqlDatabase &db, const QString &sql,
                                               QSqlError *error) const {
  auto statement = std::make_unique<QueryStatement>(db);
  if (statement->prepare(sql)) return statement;
  if (error) *error = statement->error();
  return nullptr;
}

std::unique_ptr<SqlDialect> MakeSqliteDialect() { return std::make_unique<SqliteDialect>(); }
