#pragma once
// The arrester register, the test rounds and their results in an open
// archive (either engine), beside its recordings and downloads.
//
//   Archive a; a.open(path);
//   AssetStore store(a);
//   ImportCounts n;
//   if (!store.importArresters(rows, &n)) fail(store.errorText());
//   RoundRecord r; r.station = "城东站"; r.date = QDate::currentDate();
//   store.saveRound(r);                       // fills in r.uuid
//   store.saveResult(result);
//
// Every call is one transaction, or part of the caller's write when the
// archive is inside beginWrite(). Nothing is ever deleted from the register:
// an arrester taken out of service is retired.
#include <QList>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

#include "archive/asset_types.h"

class Archive;
class QSqlError;
class RowStream;
class Statement;

struct ImportCounts {
  int added = 0;
  int updated = 0;
  int unchanged = 0;
};

class AssetStore {
 public:
  explicit AssetStore(Archive &archive);

  QString errorText() const;

  // The register, ordered by station, voltage level, bay, phase, serial.
  // `station` empty: every station.
  std::optional<QList<ArresterRecord>> arresters(const QString &station = QString());
  // The arrester whose uuid is `uuidOrPrefix` or starts with it; nothing
  // when none or several match (errorText() says which).
  std::optional<ArresterRecord> findArrester(const QString &uuidOrPrefix);
  // Inserts (empty uuid: a new one is made and filled in) or updates by
  // uuid. modifiedMs 0 becomes now and is filled in.
  bool saveArrester(ArresterRecord &arrester);
  // All or nothing, in one transaction: each row is matched with a stored
  // arrester by station + voltage level + bay + phase + serial number and
  // updates it when any field differs (its uuid kept), else it is added.
  bool importArresters(const QList<ArresterRecord> &rows, ImportCounts *counts = nullptr);

  // Rounds, newest date first. `station` empty: every station.
  std::optional<QList<RoundRecord>> rounds(const QString &station = QString());
  std::optional<RoundRecord> findRound(const QString &uuidOrPrefix);
  // Inserts or updates by uuid, as saveArrester; an empty host or user is
  // filled in with this computer's.
  bool saveRound(RoundRecord &round);

  // The results of one round, in no particular order.
  std::optional<QList<ResultRecord>> results(const QString &roundUuid);
  // Every result of every round of `station` (empty: all), for judging.
  std::optional<QList<ResultRecord>> allResults(const QString &station = QString());
  // Stores the result of (round, arrester), replacing any earlier one.
  bool saveResult(ResultRecord &result);
  // Several at once, in one transaction.
  bool saveResults(QList<ResultRecord> &results);
  bool removeResult(const QString &roundUuid, const QString &arresterUuid);

 private:
  class Write;
  bool fail(const QString &what, const QSqlError &e);
  // Runs a query and calls `row` for each row; false on failure.
  bool select(const QString &sql, const QVariantList &values,
              const std::function<void(const RowStream &)> &row);
  std::unique_ptr<Statement> prepare(const QString &sql);
  // The one uuid of `table` that is `prefix` or starts with it.
  std::optional<QString> uniqueUuid(const QString &table, const QString &what, const QString &prefix);

  Archive &archive_;
  QString error_;
};
