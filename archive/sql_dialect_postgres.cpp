#include "archive/sql_dialect.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <libpq-fe.h>
#include <algorithm>
#include <vector>

// The PostgreSQL side of the archive: COPY through libpq and the server's
// dialect. Left out of builds without libpq.

namespace {

// PostgreSQL's COPY through libpq on the driver's own connection, in its
// text format: the fastest way rows reach that server.
class CopyBulk final : public BulkInsert {
 public:
  CopyBulk(PGconn *conn, const QString &table, const QString &columns)
      : conn_(conn), command_(QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns).toUtf8()) {}
  ~CopyBulk() override {
    // An unfinished copy is abandoned; the caller rolls its transaction back.
    if (started_) {
      PQputCopyEnd(conn_, "abandoned");
      Drain();
    }
  }
  void integer(qint64 value) override {
    separate();
    data_ += QByteArray::number(value);
  }
  void real(std::optional<double> value) override {
    separate();
    if (value)
      data_ += QByteArray::number(*value, 'g', 17);
    else
      data_ += "\\N";
  }
  void text(std::optional<QByteArrayView> utf8) override {
    separate();
    if (utf8)
      Escaped(*utf8);
    else
      data_ += "\\N";
  }
  void blob(QByteArrayView bytes) override {
    separate();
    data_ += "\\\\x";  // bytea's hex form, its backslash escaped for COPY
    data_ += bytes.toByteArray().toHex();
  }
  bool endRow() override {
    data_ += '\n';
    inRow_ = false;
    ++pending_;
    return data_.size() < kBatchBytes || send();
  }
  bool finish() override {
    if (!send()) return false;
    if (!started_) return true;
    started_ = false;
    if (PQputCopyEnd(conn_, nullptr) != 1) return fail();
    return Drain();
  }
  qint64 rowsWritten() const override { return written_; }
  QSqlError error() const override { return error_; }

 private:
  static constexpr int kBatchBytes = 1 << 18;

  void separate() {
    if (inRow_) data_ += '\t';
    inRow_ = true;
  }
  void Escaped(QByteArrayView utf8) {
    for (char c : utf8) {
      switch (c) {
        case '\\': data_ += "\\\\"; break;
        case '\t': data_ += "\\t"; break;
        case '\n': data_ += "\\n"; break;
        case '\r': data_ += "\\r"; break;
        default: data_ += c;
      }
    }
  }
  bool send() {
    if (pending_ == 0) return true;
    if (!started_) {
      PGresult *r = PQexec(conn_, command_.constData());
      const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
      if (!copying) SetError(r);
      PQclear(r);
      if (!copying) return false;
      started_ = true;
    }
    if (PQputCopyData(conn_, data_.constData(), static_cast<int>(data_.size())) != 1) return fail();
    written_ += pending_;
    pending_ = 0;
    data_.clear();
    return true;
  }
  // Reads the copy's results; false when the server refused it.
  bool Drain() {
    bool ok = true;
    while (PGresult *r = PQgetResult(conn_)) {
      if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        if (ok) SetError(r);
        ok = false;
      }
      PQclear(r);
    }
    if (!ok) written_ = 0;
    return ok;
  }
  void SetError(PGresult *r) {
    const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const QString message =
        QString::fromUtf8(r && *PQresultErrorMessage(r) ? PQresultErrorMessage(r) : PQerrorMessage(conn_))
            .trimmed();
    error_ = QSqlError(QString(), message, QSqlError::StatementError,
                       state ? QString::fromLatin1(state) : QString());
  }
  bool fail() {
    error_ =
        QSqlError(QString(), QString::fromUtf8(PQerrorMessage(conn_)).trimmed(), QSqlError::ConnectionError);
    started_ = false;
    return false;
  }

  PGconn *conn_;
  QByteArray command_;
  QByteArray data_;
  qint64 pending_ = 0;
  qint64 written_ = 0;
  bool inRow_ = false;
  bool started_ = false;
  QSqlError error_;
};

// A PostgreSQL server. The schema version lives in a one-row table of its
// own, since the server has no per-database counter like SQLite's.
class PostgresDialect final : public SqlDialect {
 public:
  explicit PostgresDialect(int statementTimeoutMs) : statementTimeoutMs_(statementTimeoutMs) {}
  QString driverName() const override { return QStringLiteral("QPSQL"); }
  bool usesFile() const override { return false; }

  // The connection string is taken apart by libpq itself, so that a URL and
  // key=value pairs mean exactly what they mean to every other libpq program.
  bool configure(QSqlDatabase &db, const QString &target, QString *error) const override {
    char *message = nullptr;
    PQconninfoOption *options = PQconninfoParse(target.toUtf8().constData(), &message);
    if (!options) {
      if (error) {
        *error = message ? QString::fromUtf8(message).trimmed()
                         : QStringLiteral("cannot read the connection string");
      }
      PQfreemem(message);
      return false;
    }
    QStringList rest;
    bool ok = true;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
      if (!o->val || !*o->val) continue;
      const QString key = QString::fromUtf8(o->keyword);
      const QString value = QString::fromUtf8(o->val);
      if (key == QLatin1String("password")) {
        // A password on a command line is readable by every user of the machine.
        if (error)
          *error =
              QStringLiteral("the connection string must not hold a password: use PGPASSWORD or ~/.pgpass");
        ok = false;
      } else if (key == QLatin1String("host")) {
        db.setHostName(value);
      } else if (key == QLatin1String("port")) {
        bool isNumber = false;
        const int port = value.toInt(&isNumber);
        if (isNumber)
          db.setPort(port);
        else
          rest << QStringLiteral("port=") + Quoted(value);
      } else if (key == QLatin1String("dbname")) {
        db.setDatabaseName(value);
      } else if (key == QLatin1String("user")) {
        db.setUserName(value);
      } else {
        rest << key + QLatin1Char('=') + Quoted(value);
      }
    }
    PQconninfoFree(options);
    // Refuse a connection that hangs on an address that never answers.
    if (!target.contains(QLatin1String("connect_timeout"))) rest << QStringLiteral("connect_timeout=10");
    // A server or network gone quiet is noticed by the system: probes after
    // 10 s of silence, dead after 3 more unanswered; data unacknowledged as
    // long as a statement may take ends the connection as well.
    if (!target.contains(QLatin1String("keepalives")))
      rest << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=10")
           << QStringLiteral("keepalives_interval=5") << QStringLiteral("keepalives_count=3");
    if (!target.contains(QLatin1String("tcp_user_timeout")) && statementTimeoutMs_ > 0)
      rest << QStringLiteral("tcp_user_timeout=%1").arg(statementTimeoutMs_);
    db.setConnectOptions(rest.join(QLatin1Char(';')));
    return ok;
  }

  QStringList connectionSetup() const override {
    return {
        QStringLiteral("SET client_min_messages = warning"),
        QStringLiteral("SET standard_conforming_strings = on"),
        QStringLiteral("SET statement_timeout = %1").arg(qMax(0, statementTimeoutMs_)),
    };
  }

  QString schemaText(QString text) const override {
    text.replace(QLatin1String("{id}"), QLatin1String("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
    text.replace(QLatin1String("{int64}"), QLatin1String("BIGINT"));
    text.replace(QLatin1String("{real}"), QLatin1String("DOUBLE PRECISION"));
    text.replace(QLatin1String("{blob}"), QLatin1String("BYTEA"));
    text.replace(QLatin1String("{clustered}"), QString());
    return text;
  }

  int schemaVersion(QSqlDatabase &db, QSqlError *error) const override {
    QSqlQuery q(db);
    // Read from the catalog as a table, not by to_regclass(): a name lookup
    // may miss a table another session committed while this transaction
    // waited for the schema lock.
    if (!q.exec(QStringLiteral(
            "SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c"
            " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
            " WHERE c.relname = 'archive_schema' AND n.nspname = ANY (current_schemas(false)))")) ||
        !q.next()) {
      if (error) *error = q.lastError();
      return -1;
    }
    if (!q.value(0).toBool()) return 0;
    if (!q.exec(QStringLiteral("SELECT max(version) FROM archive_schema")) || !q.next()) {
      if (error) *error = q.lastError();
      return -1;
    }
    return q.value(0).toInt();
  }

  bool setSchemaVersion(QSqlDatabase &db, int version, QSqlError *error) const override {
    QSqlQuery q(db);
    const bool ok =
        q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS archive_schema (version INTEGER NOT NULL)")) &&
        q.exec(QStringLiteral("DELETE FROM archive_schema")) &&
        q.exec(QStringLiteral("INSERT INTO archive_schema (version) VALUES (%1)").arg(version));
    if (!ok && error) *error = q.lastError();
    return ok;
  }

  QString beginWriteStatement() const override { return QStringLiteral("BEGIN"); }
  // Two programs making the tables of a new database at once would both find
  // none and one would fail: they take turns on a lock held to the commit.
  QString schemaLockStatement() const override {
    return QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey);
  }

  std::unique_ptr<BulkInsert> bulkInsert(const QSqlDatabase &db, const QString &table,
                                         const QString &columns) const override {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // The driver hands out libpq's connection, named by its struct's name.
    if (handle.isValid() &&
        (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0)) {
      if (PGconn *conn = *static_cast<PGconn *const *>(handle.constData()))
        return std::make_unique<CopyBulk>(conn, table, columns);
    }
    return SqlDialect::bulkInsert(db, table, columns);
  }

  ArchiveFailure classify(const QSqlError &error) const override {
    if (error.type() == QSqlError::NoError) return ArchiveFailure::None;
    const QString state = error.nativeErrorCode();
    if (state.isEmpty()) {
      return error.type() == QSqlError::ConnectionError ? ArchiveFailure::CannotOpen : ArchiveFailure::Other;
    }
    if (state == QLatin1String("42501") || state == QLatin1String("25006")) return ArchiveFailure::ReadOnly;
    if (state == QLatin1String("53100")) return ArchiveFailure::DiskFull;
    if (state.startsWith(QLatin1String("53")) || state.startsWith(QLatin1String("58")))
      return ArchiveFailure::WriteError;
    if (state == QLatin1String("40P01") || state == QLatin1String("55P03")) return ArchiveFailure::Locked;
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("28")) ||
        state.startsWith(QLatin1String("57P")) || state == QLatin1String("3D000"))
      return ArchiveFailure::CannotOpen;
    return ArchiveFailure::Other;
  }

 private:
  // Any number, the same for every copy of the program: "arrester" in ASCII.
  static constexpr qint64 kSchemaLockKey = 0x6172726573746572;
  int statementTimeoutMs_;

  static QString Quoted(QString value) {
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
  }
};

}  // namespace

std::unique_ptr<SqlDialect> MakePostgresDialect(int statementTimeoutMs) {
  return std::make_unique<PostgresDialect>(statementTimeoutMs);
}
