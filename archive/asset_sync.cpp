#include "archive/asset_sync.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "archive/archive.h"
#include "archive/team_sync.h"

namespace {

enum class Type { Text, Integer, Real };
struct Column {
  const char *name;
  Type type;
};

// A register table as the sync sees it: its key columns first, every other
// column compared, the modification time last.
struct Table {
  const char *name;
  int keyColumns;
  QList<Column> columns;
  bool marksSynced;  // has synced_ms: set locally once the row is on the server
};

const QList<Table> &Tables() {
  // In this order: results refer to arresters and rounds.
  static const QList<Table> tables = {
      {"arresters",
       1,
       {{"uuid", Type::Text},
        {"station", Type::Text},
        {"voltage_level", Type::Text},
        {"bay", Type::Text},
        {"phase", Type::Text},
        {"model", Type::Text},
        {"serial_number", Type::Text},
        {"maker", Type::Text},
        {"commissioned", Type::Text},
        {"initial_ma", Type::Real},
        {"initial_date", Type::Text},
        {"retired", Type::Integer},
        {"note", Type::Text},
        {"modified_ms", Type::Integer}},
       true},
      {"rounds",
       1,
       {{"uuid", Type::Text},
        {"station", Type::Text},
        {"test_date", Type::Text},
        {"tester", Type::Text},
        {"instrument", Type::Text},
        {"weather", Type::Text},
        {"temperature_c", Type::Real},
        {"humidity_pct", Type::Real},
        {"note", Type::Text},
        {"host_name", Type::Text},
        {"user_name", Type::Text},
        {"modified_ms", Type::Integer}},
       true},
      {"results",
       2,
       {{"round_uuid", Type::Text},
        {"arrester_uuid", Type::Text},
        {"reading", Type::Text},
        {"value_ma", Type::Real},
        {"source", Type::Text},
        {"source_uuid", Type::Text},
        {"source_group", Type::Integer},
        {"source_statistic", Type::Text},
        {"operating_kv", Type::Real},
        {"note", Type::Text},
        {"removed", Type::Integer},
        {"modified_ms", Type::Integer}},
       false},
  };
  return tables;
}
enum { kArresters, kRounds, kResults };
// The columns of the arrester identity, by position in its table.
constexpr int kIdentity[] = {1, 2, 3, 4, 6};

QString ColumnList(const Table &t) {
  QStringList names;
  for (const Column &c : t.columns) names << QLatin1String(c.name);
  return names.join(QStringLiteral(", "));
}

struct Row {
  QVariantList values;   // a null QVariant for NULL
  bool unsynced = true;  // locally: not yet marked as on the server
};
using Rows = QHash<QString, Row>;

QString KeyOf(const Table &t, const QVariantList &values) {
  QString key;
  for (int i = 0; i < t.keyColumns; ++i) {
    if (i) key += QChar(0x1f);
    key += values[i].toString();
  }
  return key;
}

qint64 StampOf(const Row &r) { return r.values.last().toLongLong(); }

bool SameValues(const Row &a, const Row &b) {
  for (int i = 0; i < a.values.size(); ++i) {
    if (a.values[i].isNull() != b.values[i].isNull() || a.values[i] != b.values[i]) return false;
  }
  return true;
}

// One side of the sync, with the reason of its last failure.
struct Side {
  Archive &archive;
  bool local;  // reads which rows are marked as on the server
  QString error;

  bool fail(const QString &what, const QSqlError &e) {
    error = what + QStringLiteral(": ") + e.text().section(QLatin1Char('\n'), 0, 0).simplified();
    return false;
  }
  bool exec(const QString &sql) {
    QSqlQuery q(archive.database());
    return q.exec(sql) || fail(sql, q.lastError());
  }

  bool read(const Table &t, Rows &out) {
    const bool withSynced = t.marksSynced && local;
    const QString sql = QStringLiteral("SELECT %1%2 FROM %3")
                            .arg(ColumnList(t), withSynced ? QStringLiteral(", synced_ms") : QString(),
                                 QLatin1String(t.name));
    const std::unique_ptr<RowStream> rows = archive.dialect().streamRows(archive.database(), sql, {});
    const int n = static_cast<int>(t.columns.size());
    while (rows->next()) {
      Row r;
      r.values.reserve(n);
      for (int i = 0; i < n; ++i) {
        if (rows->isNull(i))
          r.values.append(QVariant());
        else if (t.columns[i].type == Type::Text)
          r.values.append(QString::fromUtf8(rows->bytes(i)));
        else if (t.columns[i].type == Type::Integer)
          r.values.append(rows->integer(i));
        else
          r.values.append(rows->real(i));
      }
      if (withSynced) r.unsynced = rows->isNull(n);
      out.insert(KeyOf(t, r.values), std::move(r));
    }
    if (rows->error().type() != QSqlError::NoError)
      return fail(QStringLiteral("reading %1").arg(QLatin1String(t.name)), rows->error());
    return true;
  }

  bool insert(const Table &t, const QList<const Row *> &rows) {
    if (rows.isEmpty()) return true;
    const std::unique_ptr<BulkInsert> out =
        archive.dialect().bulkInsert(archive.database(), QLatin1String(t.name), ColumnList(t));
    bool ok = true;
    for (const Row *r : rows) {
      for (int i = 0; i < t.columns.size(); ++i) {
        const QVariant &v = r->values[i];
        switch (t.columns[i].type) {
          case Type::Text:
            if (v.isNull())
              out->text(std::nullopt);
            else
              out->text(v.toString().toUtf8());
            break;
          case Type::Integer: out->integer(v.toLongLong()); break;
          case Type::Real: out->real(v.isNull() ? std::nullopt : std::optional<double>(v.toDouble())); break;
        }
      }
      if (!(ok = out->endRow())) break;
    }
    ok = ok && out->finish();
    return ok || fail(QStringLiteral("storing %1").arg(QLatin1String(t.name)), out->error());
  }

  // Overwrites rows by key. With `onlyIfStamp`, a row is left alone when its
  // modification time is no longer the one it had when it was read (it was
  // changed meanwhile): `stamps` holds those times.
  bool update(const Table &t, const QList<const Row *> &rows, const QList<qint64> &stamps = {}) {
    if (rows.isEmpty()) return true;
    QStringList sets, where;
    for (int i = t.keyColumns; i < t.columns.size(); ++i) sets << QLatin1String(t.columns[i].name) + " = ?";
    for (int i = 0; i < t.keyColumns; ++i) where << QLatin1String(t.columns[i].name) + " = ?";
    if (!stamps.isEmpty()) where << QStringLiteral("modified_ms = ?");
    QSqlError e;
    const std::unique_ptr<Statement> s = archive.dialect().prepare(
        archive.database(),
        QStringLiteral("UPDATE %1 SET %2 WHERE %3")
            .arg(QLatin1String(t.name), sets.join(QStringLiteral(", ")), where.join(QStringLiteral(" AND "))),
        &e);
    if (!s) return fail(QStringLiteral("updating %1").arg(QLatin1String(t.name)), e);
    for (int k = 0; k < rows.size(); ++k) {
      const QVariantList &v = rows[k]->values;
      int at = 0;
      auto bind = [&](int i) {
        if (v[i].isNull())
          s->bindNull(at);
        else if (t.columns[i].type == Type::Text)
          s->bindText(at, v[i].toString());
        else if (t.columns[i].type == Type::Integer)
          s->bindInteger(at, v[i].toLongLong());
        else
          s->bindReal(at, v[i].toDouble());
        ++at;
      };
      for (int i = t.keyColumns; i < t.columns.size(); ++i) bind(i);
      for (int i = 0; i < t.keyColumns; ++i) bind(i);
      if (!stamps.isEmpty()) s->bindInteger(at, stamps[k]);
      if (!s->exec()) return fail(QStringLiteral("updating %1").arg(QLatin1String(t.name)), s->error());
    }
    return true;
  }
};

// What one table's sync does on each side.
struct Plan {
  QList<const Row *> sendNew, sendChanged, takeNew, takeChanged;
  QList<qint64> takeChangedStamps;          // the local stamps they replace
  QList<std::pair<QString, qint64>> marks;  // local rows now on the server, by key and stamp
};

}  // namespace

bool SyncAssets(Archive &local, Archive &remote, bool dryRun, SyncReport &report) {
  Side here{local, true, QString()}, there{remote, false, QString()};
  auto localFailed = [&] {
    report.outcome = SyncReport::LocalFailed;
    report.error = QStringLiteral("local archive: ") + here.error;
    return false;
  };
  auto serverFailed = [&] {
    if (!dryRun) remote.rollback();
    report.outcome = SyncReport::ServerFailed;
    report.error = QStringLiteral("team server: ") + there.error;
    return false;
  };
  const QList<Table> &tables = Tables();
  Rows mine[3], theirs[3];

  // The local register as of one moment: a round saved meanwhile cannot
  // arrive without its arresters.
  if (!here.exec(QStringLiteral("BEGIN"))) return localFailed();
  bool ok = true;
  for (int t = 0; ok && t < 3; ++t) ok = here.read(tables[t], mine[t]);
  here.exec(QStringLiteral("ROLLBACK"));
  if (!ok) return localFailed();

  // The server's register, in the transaction that writes it; two laptops
  // syncing at once take turns. A server without the register tables (a dry
  // run against an older or new server) holds none.
  const bool serverHasRegister = remote.storedSchemaVersion() >= 4;
  if (!dryRun) {
    if (!remote.beginWrite()) {
      there.error = remote.errorText();
      return serverFailed();
    }
    if (!remote.dialect().usesFile() &&
        !there.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(0x7265676973746572LL)))
      return serverFailed();
  }
  for (int t = 0; serverHasRegister && t < 3; ++t) {
    if (!there.read(tables[t], theirs[t])) return serverFailed();
  }

  // An arrester entered on two computers before either synced is one
  // arrester: the one here takes the server's uuid, and its results with it.
  QHash<QString, QString> renamed;  // uuid here -> the server's
  {
    auto identity = [](const Row &r) {
      QString key;
      for (int i : kIdentity) key += r.values[i].toString() + QChar(0x1f);
      return key;
    };
    QHash<QString, QString> serverOnly;  // identity -> uuid
    for (auto it = theirs[kArresters].cbegin(); it != theirs[kArresters].cend(); ++it)
      if (!mine[kArresters].contains(it.key())) serverOnly.insert(identity(*it), it.key());
    for (auto it = mine[kArresters].cbegin(); it != mine[kArresters].cend(); ++it) {
      if (theirs[kArresters].contains(it.key())) continue;
      const QString to = serverOnly.value(identity(*it));
      if (!to.isEmpty()) renamed.insert(it.key(), to);
    }
    for (auto it = renamed.cbegin(); it != renamed.cend(); ++it) {
      Row r = mine[kArresters].take(it.key());
      r.values[0] = it.value();
      mine[kArresters].insert(it.value(), std::move(r));
    }
    if (!renamed.isEmpty()) {
      Rows results;
      for (auto it = mine[kResults].begin(); it != mine[kResults].end(); ++it) {
        Row r = std::move(*it);
        r.values[1] = renamed.value(r.values[1].toString(), r.values[1].toString());
        results.insert(KeyOf(tables[kResults], r.values), std::move(r));
      }
      mine[kResults] = std::move(results);
    }
  }

  // Missing on one side: copied there. On both and different: the later
  // change wins on both sides; equal times are left as they are.
  Plan plans[3];
  for (int t = 0; t < 3; ++t) {
    Plan &p = plans[t];
    for (auto it = mine[t].cbegin(); it != mine[t].cend(); ++it) {
      const auto other = theirs[t].constFind(it.key());
      if (other == theirs[t].cend()) {
        p.sendNew << &*it;
        p.marks << std::make_pair(it.key(), StampOf(*it));
      } else if (!SameValues(*it, *other) && StampOf(*it) > StampOf(*other)) {
        p.sendChanged << &*it;
        p.marks << std::make_pair(it.key(), StampOf(*it));
      } else if (!SameValues(*it, *other) && StampOf(*other) > StampOf(*it)) {
        p.takeChanged << &*other;
        p.takeChangedStamps << StampOf(*it);
        p.marks << std::make_pair(it.key(), StampOf(*other));
      } else if (it->unsynced || renamed.contains(it.key())) {
        p.marks << std::make_pair(it.key(), StampOf(*it));
      }
    }
    for (auto it = theirs[t].cbegin(); it != theirs[t].cend(); ++it) {
      if (!mine[t].contains(it.key())) {
        p.takeNew << &*it;
        p.marks << std::make_pair(it.key(), StampOf(*it));
      }
    }
  }
  report.arrestersSent = plans[kArresters].sendNew.size() + plans[kArresters].sendChanged.size();
  report.arrestersTaken = plans[kArresters].takeNew.size() + plans[kArresters].takeChanged.size();
  report.roundsSent = plans[kRounds].sendNew.size() + plans[kRounds].sendChanged.size();
  report.roundsTaken = plans[kRounds].takeNew.size() + plans[kRounds].takeChanged.size();
  report.resultsSent = plans[kResults].sendNew.size() + plans[kResults].sendChanged.size();
  report.resultsTaken = plans[kResults].takeNew.size() + plans[kResults].takeChanged.size();
  if (dryRun) return true;

  for (int t = 0; t < 3; ++t) {
    if (!there.insert(tables[t], plans[t].sendNew) || !there.update(tables[t], plans[t].sendChanged))
      return serverFailed();
  }
  if (!remote.commit()) {
    there.error = remote.errorText();
    return serverFailed();
  }

  // Here, what came from the server and the marks, in one write. A row
  // changed here since it was read keeps that change; it goes out next time.
  if (!local.beginWrite()) {
    here.error = local.errorText();
    return localFailed();
  }
  auto failedHere = [&] {
    local.rollback();
    return localFailed();
  };
  {
    QSqlQuery q(local.database());
    q.prepare(QStringLiteral("UPDATE arresters SET uuid = ? WHERE uuid = ?"));
    for (auto it = renamed.cbegin(); it != renamed.cend(); ++it) {
      q.addBindValue(it.value());
      q.addBindValue(it.key());
      if (!q.exec()) {
        here.fail(QStringLiteral("taking the server's uuid of an arrester"), q.lastError());
        return failedHere();
      }
    }
  }
  for (int t = 0; t < 3; ++t) {
    if (!here.insert(tables[t], plans[t].takeNew) ||
        !here.update(tables[t], plans[t].takeChanged, plans[t].takeChangedStamps))
      return failedHere();
  }
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  for (int t = 0; t < 3; ++t) {
    if (!tables[t].marksSynced || plans[t].marks.isEmpty()) continue;
    QSqlError e;
    const std::unique_ptr<Statement> mark = local.dialect().prepare(
        local.database(),
        QStringLiteral("UPDATE %1 SET synced_ms = ? WHERE uuid = ? AND modified_ms = ?")
            .arg(QLatin1String(tables[t].name)),
        &e);
    if (!mark) {
      here.fail(QStringLiteral("marking as synced"), e);
      return failedHere();
    }
    for (const auto &[uuid, stamp] : plans[t].marks) {
      mark->bindInteger(0, now);
      mark->bindText(1, uuid);
      mark->bindInteger(2, stamp);
      if (!mark->exec()) {
        here.fail(QStringLiteral("marking as synced"), mark->error());
        return failedHere();
      }
    }
  }
  if (!local.commit()) {
    here.error = local.errorText();
    return failedHere();
  }
  return true;
}
