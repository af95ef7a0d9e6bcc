#include "archive/asset_store.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <functional>

#include "archive/archive.h"

namespace {

// The columns of each table, in the order the readers and binders below use.
const QString kArresterColumns = QStringLiteral(
    "uuid, station, voltage_level, bay, phase, model, serial_number, maker, commissioned,"
    " initial_ma, initial_date, retired, note, modified_ms");
constexpr int kArresterColumnCount = 14;
const QString kRoundColumns = QStringLiteral(
    "uuid, station, test_date, tester, instrument, weather, temperature_c, humidity_pct, note,"
    " host_name, user_name, modified_ms");
constexpr int kRoundColumnCount = 12;
const QString kResultColumns = QStringLiteral(
    "round_uuid, arrester_uuid, reading, value_ma, source, source_uuid, source_group,"
    " source_statistic, operating_kv, note, modified_ms");
constexpr int kResultColumnCount = 11;

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }
QString NewUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

// "?, ?, ?" for `n` placeholders.
QString Placeholders(int n) { return QStringLiteral("?, ").repeated(n - 1) + QStringLiteral("?"); }

// "a = excluded.a, ..." for every column but the key ones: an upsert's update.
QString TakeExcluded(const QString &columns, const QStringList &key) {
  QStringList sets;
  for (QString c : columns.split(QLatin1Char(','))) {
    c = c.trimmed();
    if (!key.contains(c)) sets << c + QStringLiteral(" = excluded.") + c;
  }
  return sets.join(QStringLiteral(", "));
}

QString Text(const RowStream &r, int c) { return QString::fromUtf8(r.bytes(c)); }
std::optional<double> Real(const RowStream &r, int c) {
  return r.isNull(c) ? std::nullopt : std::optional<double>(r.real(c));
}
QDate Date(const RowStream &r, int c) {
  return r.isNull(c) ? QDate() : QDate::fromString(Text(r, c), Qt::ISODate);
}

void BindReal(Statement &s, int i, const std::optional<double> &v) {
  if (v)
    s.bindReal(i, *v);
  else
    s.bindNull(i);
}
void BindDate(Statement &s, int i, const QDate &d) {
  if (d.isValid())
    s.bindText(i, d.toString(Qt::ISODate));
  else
    s.bindNull(i);
}

ArresterRecord ArresterAt(const RowStream &r) {
  ArresterRecord a;
  a.uuid = Text(r, 0);
  a.station = Text(r, 1);
  a.voltageLevel = Text(r, 2);
  a.bay = Text(r, 3);
  a.phase = Text(r, 4);
  a.model = Text(r, 5);
  a.serialNumber = Text(r, 6);
  a.maker = Text(r, 7);
  a.commissioned = Date(r, 8);
  a.initialMilliAmps = Real(r, 9);
  a.initialDate = Date(r, 10);
  a.retired = r.integer(11) != 0;
  a.note = Text(r, 12);
  a.modifiedMs = r.integer(13);
  return a;
}

void BindArrester(Statement &s, const ArresterRecord &a) {
  s.bindText(0, a.uuid);
  s.bindText(1, a.station);
  s.bindText(2, a.voltageLevel);
  s.bindText(3, a.bay);
  s.bindText(4, a.phase);
  s.bindText(5, a.model);
  s.bindText(6, a.serialNumber);
  s.bindText(7, a.maker);
  BindDate(s, 8, a.commissioned);
  BindReal(s, 9, a.initialMilliAmps);
  BindDate(s, 10, a.initialDate);
  s.bindInteger(11, a.retired ? 1 : 0);
  s.bindText(12, a.note);
  s.bindInteger(13, a.modifiedMs);
}

RoundRecord RoundAt(const RowStream &r) {
  RoundRecord o;
  o.uuid = Text(r, 0);
  o.station = Text(r, 1);
  o.date = Date(r, 2);
  o.tester = Text(r, 3);
  o.instrument = Text(r, 4);
  o.weather = Text(r, 5);
  o.temperatureC = Real(r, 6);
  o.humidityPercent = Real(r, 7);
  o.note = Text(r, 8);
  o.hostName = Text(r, 9);
  o.userName = Text(r, 10);
  o.modifiedMs = r.integer(11);
  return o;
}

void BindRound(Statement &s, const RoundRecord &o) {
  s.bindText(0, o.uuid);
  s.bindText(1, o.station);
  BindDate(s, 2, o.date);
  s.bindText(3, o.tester);
  s.bindText(4, o.instrument);
  s.bindText(5, o.weather);
  BindReal(s, 6, o.temperatureC);
  BindReal(s, 7, o.humidityPercent);
  s.bindText(8, o.note);
  s.bindText(9, o.hostName);
  s.bindText(10, o.userName);
  s.bindInteger(11, o.modifiedMs);
}

ResultRecord ResultAt(const RowStream &r) {
  ResultRecord x;
  x.roundUuid = Text(r, 0);
  x.arresterUuid = Text(r, 1);
  x.reading = ResultReadingFromName(Text(r, 2));
  x.milliAmps = Real(r, 3);
  x.source = ResultSourceFromName(Text(r, 4));
  x.sourceUuid = Text(r, 5);
  x.sourceGroup = static_cast<int>(r.integer(6));
  x.sourceStatistic = Text(r, 7);
  x.operatingKv = Real(r, 8);
  x.note = Text(r, 9);
  x.modifiedMs = r.integer(10);
  return x;
}

void BindResult(Statement &s, const ResultRecord &x) {
  s.bindText(0, x.roundUuid);
  s.bindText(1, x.arresterUuid);
  s.bindText(2, ResultReadingName(x.reading));
  BindReal(s, 3, x.milliAmps);
  s.bindText(4, ResultSourceName(x.source));
  s.bindText(5, x.sourceUuid);
  s.bindInteger(6, x.sourceGroup);
  s.bindText(7, x.sourceStatistic);
  BindReal(s, 8, x.operatingKv);
  s.bindText(9, x.note);
  s.bindInteger(10, x.modifiedMs);
}

// The five fields that identify an arrester, as one hash key.
QString IdentityKey(const ArresterRecord &a) {
  const QChar gap(0x1f);
  return a.station + gap + a.voltageLevel + gap + a.bay + gap + a.phase + gap + a.serialNumber;
}

bool SameContent(const ArresterRecord &a, const ArresterRecord &b) {
  return a.station == b.station && a.voltageLevel == b.voltageLevel && a.bay == b.bay && a.phase == b.phase &&
         a.model == b.model && a.serialNumber == b.serialNumber && a.maker == b.maker &&
         a.commissioned == b.commissioned && a.initialMilliAmps == b.initialMilliAmps &&
         a.initialDate == b.initialDate && a.retired == b.retired && a.note == b.note;
}

QString Described(const ArresterRecord &a) {
  QString text =
      a.station + QLatin1Char(' ') + a.voltageLevel + QLatin1Char(' ') + a.bay + QLatin1Char(' ') + a.phase;
  if (!a.serialNumber.isEmpty()) text += QLatin1Char(' ') + a.serialNumber;
  return text;
}

bool Finite(const std::optional<double> &v) { return !v || std::isfinite(*v); }

// Blanks around the identifying fields would make one arrester two.
void Normalize(ArresterRecord &a) {
  a.station = a.station.trimmed();
  a.voltageLevel = a.voltageLevel.trimmed();
  a.bay = a.bay.trimmed();
  a.phase = a.phase.trimmed();
  a.serialNumber = a.serialNumber.trimmed();
}

// What is wrong with an arrester to be stored; empty when nothing is.
QString Problem(const ArresterRecord &a) {
  if (a.station.isEmpty()) return QStringLiteral("an arrester needs a station");
  if (a.voltageLevel.isEmpty()) return QStringLiteral("an arrester needs a voltage level");
  if (a.bay.isEmpty()) return QStringLiteral("an arrester needs a bay");
  if (a.phase.isEmpty()) return QStringLiteral("an arrester needs a phase");
  if (!Finite(a.initialMilliAmps)) return QStringLiteral("the initial value is not a number");
  return QString();
}

// Text compared piece by piece, a run of digits by its number: "35kV"
// before "110kV", "2号间隔" before "10号间隔".
int NaturalCompare(const QString &a, const QString &b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ie = i, je = j;
      while (ie < a.size() && a[ie].isDigit()) ++ie;
      while (je < b.size() && b[je].isDigit()) ++je;
      const QStringView da = QStringView(a).mid(i, ie - i), db = QStringView(b).mid(j, je - j);
      qsizetype za = 0, zb = 0;
      while (za < da.size() - 1 && da[za] == QLatin1Char('0')) ++za;
      while (zb < db.size() - 1 && db[zb] == QLatin1Char('0')) ++zb;
      const QStringView na = da.mid(za), nb = db.mid(zb);
      if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
      if (const int c = na.compare(nb); c != 0) return c;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
      ++i;
      ++j;
    }
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return a.compare(b);
}

bool RegisterLess(const ArresterRecord &a, const ArresterRecord &b) {
  for (auto field : {&ArresterRecord::station, &ArresterRecord::voltageLevel, &ArresterRecord::bay,
                     &ArresterRecord::phase, &ArresterRecord::serialNumber}) {
    if (a.*field == b.*field) continue;  // most neighbours share the station and level
    if (const int c = NaturalCompare(a.*field, b.*field); c != 0) return c < 0;
  }
  return a.uuid < b.uuid;
}

}  // namespace

// The caller's transaction when the archive is inside one, else one of its own.
class AssetStore::Write {
 public:
  explicit Write(AssetStore &store) : store_(store), own_(!store.archive_.isWriting()) {}
  ~Write() {
    if (own_ && open_) store_.archive_.rollback();
  }
  Write(const Write &) = delete;
  Write &operator=(const Write &) = delete;

  bool begin() {
    if (!own_) return true;
    open_ = store_.archive_.beginWrite();
    if (!open_) store_.error_ = store_.archive_.errorText();
    return open_;
  }
  // Commits when `ok`; rolls back otherwise. Returns whether it was kept.
  bool finish(bool ok) {
    if (!own_) return ok;
    open_ = false;
    if (ok && store_.archive_.commit()) return true;
    if (ok) store_.error_ = store_.archive_.errorText();
    store_.archive_.rollback();
    return false;
  }

 private:
  AssetStore &store_;
  bool own_;
  bool open_ = false;
};

AssetStore::AssetStore(Archive &archive) : archive_(archive) {}

QString AssetStore::errorText() const { return error_; }

bool AssetStore::fail(const QString &what, const QSqlError &e) {
  error_ = what + QStringLiteral(": ") + e.text();
  return false;
}

bool AssetStore::select(const QString &sql, const QVariantList &values,
                        const std::function<void(const RowStream &)> &row) {
  const std::unique_ptr<RowStream> rows = archive_.dialect().streamRows(archive_.database(), sql, values);
  while (rows->next()) row(*rows);
  if (rows->error().type() != QSqlError::NoError)
    return fail(QStringLiteral("reading the register"), rows->error());
  return true;
}

std::unique_ptr<Statement> AssetStore::prepare(const QString &sql) {
  QSqlError e;
  std::unique_ptr<Statement> s = archive_.dialect().prepare(archive_.database(), sql, &e);
  if (!s) fail(QStringLiteral("preparing a statement"), e);
  return s;
}

std::optional<QString> AssetStore::uniqueUuid(const QString &table, const QString &what,
                                              const QString &prefix) {
  error_.clear();
  // Uuids are lower-case ASCII; in a file a range on the uuid index finds
  // them without a scan, a server compares by its collation and so matches
  // the prefix itself.
  const QString lower = prefix.trimmed().toLower();
  if (lower.isEmpty()) {
    error_ = QStringLiteral("no %1 ID given").arg(what);
    return std::nullopt;
  }
  const bool file = archive_.dialect().usesFile();
  const QString sql =
      file ? QStringLiteral("SELECT uuid FROM %1 WHERE uuid >= ? AND uuid < ? ORDER BY uuid LIMIT 2")
                 .arg(table)
           : QStringLiteral("SELECT uuid FROM %1 WHERE substr(uuid, 1, ?) = ? LIMIT 2").arg(table);
  const QVariantList values =
      file ? QVariantList{lower, lower + QChar(0x7f)} : QVariantList{static_cast<int>(lower.size()), lower};
  QStringList found;
  if (!select(sql, values, [&](const RowStream &r) { found << Text(r, 0); })) return std::nullopt;
  if (found.size() > 1) {
    error_ = QStringLiteral("the %1 ID %2 is ambiguous: several %1s start with it").arg(what, prefix);
    return std::nullopt;
  }
  if (found.isEmpty()) {
    error_ = QStringLiteral("no %1 %2").arg(what, prefix);
    return std::nullopt;
  }
  return found.first();
}

std::optional<QList<ArresterRecord>> AssetStore::arresters(const QString &station) {
  error_.clear();
  QList<ArresterRecord> out;
  const bool all = station.isEmpty();
  if (!select(QStringLiteral("SELECT %1 FROM arresters%2")
                  .arg(kArresterColumns, all ? QString() : QStringLiteral(" WHERE station = ?")),
              all ? QVariantList() : QVariantList{station.trimmed()},
              [&](const RowStream &r) { out.append(ArresterAt(r)); }))
    return std::nullopt;
  std::sort(out.begin(), out.end(), RegisterLess);
  return out;
}

std::optional<ArresterRecord> AssetStore::findArrester(const QString &uuidOrPrefix) {
  const std::optional<QString> uuid =
      uniqueUuid(QStringLiteral("arresters"), QStringLiteral("arrester"), uuidOrPrefix);
  if (!uuid) return std::nullopt;
  std::optional<ArresterRecord> found;
  if (!select(QStringLiteral("SELECT %1 FROM arresters WHERE uuid = ?").arg(kArresterColumns), {*uuid},
              [&](const RowStream &r) { found = ArresterAt(r); }))
    return std::nullopt;
  return found;
}

bool AssetStore::saveArrester(ArresterRecord &arrester) {
  error_.clear();
  ArresterRecord a = arrester;
  Normalize(a);
  if (const QString why = Problem(a); !why.isEmpty()) {
    error_ = why;
    return false;
  }
  Write write(*this);
  if (!write.begin()) return false;
  // Another arrester with the same identity would make one arrester two.
  QString other;
  std::optional<qint64> stored;
  bool ok =
      select(QStringLiteral("SELECT uuid, modified_ms FROM arresters WHERE (station = ? AND voltage_level = ?"
                            " AND bay = ? AND phase = ? AND serial_number = ?) OR uuid = ?"),
             {a.station, a.voltageLevel, a.bay, a.phase, a.serialNumber, a.uuid}, [&](const RowStream &r) {
               if (Text(r, 0) == a.uuid)
                 stored = r.integer(1);
               else
                 other = Text(r, 0);
             });
  if (ok && !other.isEmpty()) {
    error_ = QStringLiteral("arrester %1 is in the register already (%2)").arg(Described(a), other);
    ok = false;
  }
  if (!ok) return write.finish(false);
  if (a.uuid.isEmpty()) a.uuid = NewUuid();
  // An edit is always later than the version it replaces, whatever the clocks.
  if (a.modifiedMs == 0) a.modifiedMs = stored ? std::max(NowMs(), *stored + 1) : NowMs();
  const std::unique_ptr<Statement> s =
      prepare(QStringLiteral("INSERT INTO arresters (%1) VALUES (%2) ON CONFLICT (uuid) DO UPDATE SET %3")
                  .arg(kArresterColumns, Placeholders(kArresterColumnCount),
                       TakeExcluded(kArresterColumns, {QStringLiteral("uuid")})));
  if (!s) return write.finish(false);
  BindArrester(*s, a);
  if (!s->exec()) return write.finish(fail(QStringLiteral("storing an arrester"), s->error()));
  if (!write.finish(true)) return false;
  arrester = a;
  return true;
}

bool AssetStore::importArresters(const QList<ArresterRecord> &rows, ImportCounts *counts) {
  error_.clear();
  ImportCounts n;
  // Every row is checked before anything is written.
  QList<ArresterRecord> checked = rows;
  QHash<QString, int> rowOf;
  rowOf.reserve(checked.size());
  for (int i = 0; i < checked.size(); ++i) {
    ArresterRecord &a = checked[i];
    Normalize(a);
    if (const QString why = Problem(a); !why.isEmpty()) {
      error_ = QStringLiteral("row %1: %2").arg(i + 1).arg(why);
      return false;
    }
    const QString key = IdentityKey(a);
    if (const auto it = rowOf.constFind(key); it != rowOf.constEnd()) {
      error_ = QStringLiteral("rows %1 and %2 are both %3").arg(*it + 1).arg(i + 1).arg(Described(a));
      return false;
    }
    rowOf.insert(key, i);
  }
  Write write(*this);
  if (!write.begin()) return false;
  QHash<QString, ArresterRecord> stored;
  if (!select(QStringLiteral("SELECT %1 FROM arresters").arg(kArresterColumns), {}, [&](const RowStream &r) {
        ArresterRecord a = ArresterAt(r);
        stored.insert(IdentityKey(a), std::move(a));
      }))
    return write.finish(false);
  const std::unique_ptr<Statement> insert =
      prepare(QStringLiteral("INSERT INTO arresters (%1) VALUES (%2)")
                  .arg(kArresterColumns, Placeholders(kArresterColumnCount)));
  const std::unique_ptr<Statement> update =
      insert ? prepare(QStringLiteral(
                   "UPDATE arresters SET station = ?, voltage_level = ?, bay = ?, phase = ?,"
                   " model = ?, serial_number = ?, maker = ?, commissioned = ?, initial_ma = ?,"
                   " initial_date = ?, retired = ?, note = ?, modified_ms = ? WHERE uuid = ?"))
             : nullptr;
  if (!update) return write.finish(false);
  const qint64 now = NowMs();
  for (int i = 0; i < checked.size(); ++i) {
    ArresterRecord &a = checked[i];
    const auto it = stored.constFind(IdentityKey(a));
    if (it == stored.constEnd()) {
      if (a.uuid.isEmpty()) a.uuid = NewUuid();
      if (a.modifiedMs == 0) a.modifiedMs = now;
      BindArrester(*insert, a);
      if (!insert->exec())
        return write.finish(
            fail(QStringLiteral("row %1: storing %2").arg(i + 1).arg(Described(a)), insert->error()));
      ++n.added;
      continue;
    }
    if (SameContent(a, *it)) {
      ++n.unchanged;
      continue;
    }
    a.uuid = it->uuid;
    if (a.modifiedMs == 0) a.modifiedMs = std::max(now, it->modifiedMs + 1);
    // The update's placeholders: the columns after uuid, then the uuid.
    update->bindText(0, a.station);
    update->bindText(1, a.voltageLevel);
    update->bindText(2, a.bay);
    update->bindText(3, a.phase);
    update->bindText(4, a.model);
    update->bindText(5, a.serialNumber);
    update->bindText(6, a.maker);
    BindDate(*update, 7, a.commissioned);
    BindReal(*update, 8, a.initialMilliAmps);
    BindDate(*update, 9, a.initialDate);
    update->bindInteger(10, a.retired ? 1 : 0);
    update->bindText(11, a.note);
    update->bindInteger(12, a.modifiedMs);
    update->bindText(13, a.uuid);
    if (!update->exec())
      return write.finish(
          fail(QStringLiteral("row %1: storing %2").arg(i + 1).arg(Described(a)), update->error()));
    ++n.updated;
  }
  if (!write.finish(true)) return false;
  if (counts) *counts = n;
  return true;
}

std::optional<QList<RoundRecord>> AssetStore::rounds(const QString &station) {
  error_.clear();
  QList<RoundRecord> out;
  const bool all = station.isEmpty();
  if (!select(QStringLiteral("SELECT %1 FROM rounds%2")
                  .arg(kRoundColumns, all ? QString() : QStringLiteral(" WHERE station = ?")),
              all ? QVariantList() : QVariantList{station.trimmed()},
              [&](const RowStream &r) { out.append(RoundAt(r)); }))
    return std::nullopt;
  // Newest first; rounds of one day by when they were last changed; rounds
  // without a date last.
  std::sort(out.begin(), out.end(), [](const RoundRecord &a, const RoundRecord &b) {
    if (a.date.isValid() != b.date.isValid()) return a.date.isValid();
    if (a.date != b.date) return a.date > b.date;
    if (a.modifiedMs != b.modifiedMs) return a.modifiedMs > b.modifiedMs;
    return a.uuid < b.uuid;
  });
  return out;
}

std::optional<RoundRecord> AssetStore::findRound(const QString &uuidOrPrefix) {
  const std::optional<QString> uuid =
      uniqueUuid(QStringLiteral("rounds"), QStringLiteral("round"), uuidOrPrefix);
  if (!uuid) return std::nullopt;
  std::optional<RoundRecord> found;
  if (!select(QStringLiteral("SELECT %1 FROM rounds WHERE uuid = ?").arg(kRoundColumns), {*uuid},
              [&](const RowStream &r) { found = RoundAt(r); }))
    return std::nullopt;
  return found;
}

bool AssetStore::saveRound(RoundRecord &round) {
  error_.clear();
  RoundRecord o = round;
  o.station = o.station.trimmed();
  if (o.station.isEmpty()) {
    error_ = QStringLiteral("a round needs a station");
    return false;
  }
  if (!Finite(o.temperatureC) || !Finite(o.humidityPercent)) {
    error_ = QStringLiteral("the temperature or humidity is not a number");
    return false;
  }
  FillOrigin(o.hostName, o.userName);
  Write write(*this);
  if (!write.begin()) return false;
  std::optional<qint64> stored;
  if (!o.uuid.isEmpty() && !select(QStringLiteral("SELECT modified_ms FROM rounds WHERE uuid = ?"), {o.uuid},
                                   [&](const RowStream &r) { stored = r.integer(0); }))
    return write.finish(false);
  if (o.uuid.isEmpty()) o.uuid = NewUuid();
  if (o.modifiedMs == 0) o.modifiedMs = stored ? std::max(NowMs(), *stored + 1) : NowMs();
  const std::unique_ptr<Statement> s =
      prepare(QStringLiteral("INSERT INTO rounds (%1) VALUES (%2) ON CONFLICT (uuid) DO UPDATE SET %3")
                  .arg(kRoundColumns, Placeholders(kRoundColumnCount),
                       TakeExcluded(kRoundColumns, {QStringLiteral("uuid")})));
  if (!s) return write.finish(false);
  BindRound(*s, o);
  if (!s->exec()) return write.finish(fail(QStringLiteral("storing a round"), s->error()));
  if (!write.finish(true)) return false;
  round = o;
  return true;
}

std::optional<QList<ResultRecord>> AssetStore::results(const QString &roundUuid) {
  error_.clear();
  QList<ResultRecord> out;
  if (!select(
          QStringLiteral("SELECT %1 FROM results WHERE round_uuid = ? AND removed = 0").arg(kResultColumns),
          {roundUuid}, [&](const RowStream &r) { out.append(ResultAt(r)); }))
    return std::nullopt;
  return out;
}

std::optional<QList<ResultRecord>> AssetStore::allResults(const QString &station) {
  error_.clear();
  QList<ResultRecord> out;
  QString columns = kResultColumns;
  columns.replace(QStringLiteral(", "), QStringLiteral(", x.")).prepend(QStringLiteral("x."));
  const bool all = station.isEmpty();
  if (!select(all ? QStringLiteral("SELECT %1 FROM results x WHERE x.removed = 0").arg(columns)
                  : QStringLiteral("SELECT %1 FROM results x JOIN rounds o ON o.uuid = x.round_uuid"
                                   " WHERE x.removed = 0 AND o.station = ?")
                        .arg(columns),
              all ? QVariantList() : QVariantList{station.trimmed()},
              [&](const RowStream &r) { out.append(ResultAt(r)); }))
    return std::nullopt;
  return out;
}

bool AssetStore::saveResult(ResultRecord &result) {
  QList<ResultRecord> one{result};
  if (!saveResults(one)) return false;
  result = one.first();
  return true;
}

bool AssetStore::saveResults(QList<ResultRecord> &results) {
  error_.clear();
  QList<ResultRecord> checked = results;
  for (ResultRecord &x : checked) {
    if (x.reading == ResultReading::Value && (!x.milliAmps || !std::isfinite(*x.milliAmps))) {
      error_ = QStringLiteral("a result of arrester %1 has no value").arg(x.arresterUuid);
      return false;
    }
    if (x.reading != ResultReading::Value) x.milliAmps.reset();
    if (!Finite(x.operatingKv)) {
      error_ = QStringLiteral("the operating voltage of arrester %1 is not a number").arg(x.arresterUuid);
      return false;
    }
  }
  Write write(*this);
  if (!write.begin()) return false;
  // Each round's station and each arrester's, looked up once.
  QHash<QString, std::optional<QString>> roundStation, arresterStation;
  auto stationOf = [&](QHash<QString, std::optional<QString>> &known, const QString &table,
                       const QString &uuid) -> std::optional<std::optional<QString>> {
    if (const auto it = known.constFind(uuid); it != known.constEnd()) return *it;
    std::optional<QString> station;
    if (!select(QStringLiteral("SELECT station FROM %1 WHERE uuid = ?").arg(table), {uuid},
                [&](const RowStream &r) { station = Text(r, 0); }))
      return std::nullopt;
    known.insert(uuid, station);
    return station;
  };
  // The stamps of each round's stored results, read once a round.
  QHash<QString, QHash<QString, qint64>> storedStamps;
  const std::unique_ptr<Statement> s =
      prepare(QStringLiteral("INSERT INTO results (%1, removed) VALUES (%2, 0)"
                             " ON CONFLICT (round_uuid, arrester_uuid) DO UPDATE SET %3, removed = 0")
                  .arg(kResultColumns, Placeholders(kResultColumnCount),
                       TakeExcluded(kResultColumns,
                                    {QStringLiteral("round_uuid"), QStringLiteral("arrester_uuid")})));
  if (!s) return write.finish(false);
  const qint64 now = NowMs();
  for (ResultRecord &x : checked) {
    const std::optional<std::optional<QString>> round =
        stationOf(roundStation, QStringLiteral("rounds"), x.roundUuid);
    const std::optional<std::optional<QString>> arrester =
        round ? stationOf(arresterStation, QStringLiteral("arresters"), x.arresterUuid) : std::nullopt;
    if (!arrester) return write.finish(false);
    if (!*round) {
      error_ = QStringLiteral("no round %1").arg(x.roundUuid);
      return write.finish(false);
    }
    if (!*arrester) {
      error_ = QStringLiteral("no arrester %1").arg(x.arresterUuid);
      return write.finish(false);
    }
    if (**round != **arrester) {
      error_ = QStringLiteral("arrester %1 is of %2, not of the round's station %3")
                   .arg(x.arresterUuid, **arrester, **round);
      return write.finish(false);
    }
    if (x.modifiedMs == 0) {
      auto stamps = storedStamps.find(x.roundUuid);
      if (stamps == storedStamps.end()) {
        stamps = storedStamps.insert(x.roundUuid, {});
        if (!select(QStringLiteral("SELECT arrester_uuid, modified_ms FROM results WHERE round_uuid = ?"),
                    {x.roundUuid}, [&](const RowStream &r) { stamps->insert(Text(r, 0), r.integer(1)); }))
          return write.finish(false);
      }
      const auto stored = stamps->constFind(x.arresterUuid);
      x.modifiedMs = stored != stamps->cend() ? std::max(now, *stored + 1) : now;
    }
    BindResult(*s, x);
    if (!s->exec()) return write.finish(fail(QStringLiteral("storing a result"), s->error()));
  }
  if (!write.finish(true)) return false;
  results = checked;
  return true;
}

bool AssetStore::removeResult(const QString &roundUuid, const QString &arresterUuid) {
  error_.clear();
  Write write(*this);
  if (!write.begin()) return false;
  std::optional<qint64> stored;
  if (!select(QStringLiteral("SELECT modified_ms FROM results WHERE round_uuid = ? AND arrester_uuid = ?"
                             " AND removed = 0"),
              {roundUuid, arresterUuid}, [&](const RowStream &r) { stored = r.integer(0); }))
    return write.finish(false);
  if (!stored) {
    error_ = QStringLiteral("round %1 holds no result of arrester %2").arg(roundUuid, arresterUuid);
    return write.finish(false);
  }
  // Kept as a removed row, so that the team sync removes it on the server
  // too instead of bringing it back.
  QSqlQuery q(archive_.database());
  q.prepare(QStringLiteral(
      "UPDATE results SET removed = 1, modified_ms = ? WHERE round_uuid = ? AND arrester_uuid = ?"));
  q.addBindValue(std::max(NowMs(), *stored + 1));
  q.addBindValue(roundUuid);
  q.addBindValue(arresterUuid);
  if (!q.exec()) return write.finish(fail(QStringLiteral("removing a result"), q.lastError()));
  return write.finish(true);
}
