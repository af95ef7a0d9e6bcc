// The arrester register: judging a register of 10^4 arresters with 10
// rounds each (the latest round of every station, all earlier results as
// history) and one station's round as assess judges it, loading that register from
// a SQLite archive, and importing 10^4 register rows from CSV into a fresh
// archive (read, planned, stored) and again into the filled one. Medians of
// a few runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "assessment/register_csv.h"

namespace {

constexpr int kRuns = 5;
constexpr int kStations = 20;
constexpr int kPerStation = 500;  // 10^4 arresters in all
constexpr int kRounds = 10;       // per station, one a year

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Print(const char *name, double value, const char *unit) {
  std::printf("%s: %.3f %s\n", name, value, unit);
}

double MsSince(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

QString Station(int s) { return QStringLiteral("%1号变电站").arg(s + 1); }

// Arrester k of a station: bays of three phases, two voltage levels.
ArresterRecord MakeArrester(int s, int k) {
  ArresterRecord a;
  a.station = Station(s);
  a.voltageLevel = k < kPerStation / 2 ? QStringLiteral("220kV") : QStringLiteral("110kV");
  a.bay = QStringLiteral("%1号间隔").arg(k / 3 + 1);
  a.phase = QString(QLatin1Char(char('A' + k % 3)));
  a.model = QStringLiteral("Y10W-200/520");
  a.serialNumber = QStringLiteral("SN%1-%2").arg(s).arg(k);
  a.initialMilliAmps = 0.4 + 0.001 * (k % 200);
  a.initialDate = QDate(2014, 5, 1);
  return a;
}

struct Register {
  QList<ArresterRecord> arresters;
  QList<RoundRecord> rounds;
  QList<ResultRecord> results;
};

// Every station measured once a year for kRounds years; values drift up, a
// few arresters sharply.
Register MakeRegister() {
  Register r;
  for (int s = 0; s < kStations; ++s) {
    for (int k = 0; k < kPerStation; ++k) {
      r.arresters << MakeArrester(s, k);
      r.arresters.last().uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    }
    for (int y = 0; y < kRounds; ++y) {
      RoundRecord round;
      round.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
      round.station = Station(s);
      round.date = QDate(2015 + y, 5, 10);
      r.rounds << round;
      for (int k = 0; k < kPerStation; ++k) {
        ResultRecord result;
        result.roundUuid = round.uuid;
        result.arresterUuid = r.arresters[s * kPerStation + k].uuid;
        const double drift = k % 97 == 0 ? 0.08 * y : 0.01 * y;
        result.milliAmps = *r.arresters[s * kPerStation + k].initialMilliAmps * (1 + drift);
        if (k % 499 == 1 && y == kRounds - 1) {
          result.reading = ResultReading::Overload;
          result.milliAmps.reset();
        }
        r.results << result;
      }
    }
  }
  return r;
}

// The latest round of every station judged over the whole register (one
// index of all results, as the judgement page builds it); the rows judged.
qsizetype JudgeLatestRounds(const Register &r) {
  const RoundJudge judge(r.arresters, r.rounds, r.results);
  qsizetype rows = 0;
  for (int s = 0; s < kStations; ++s)
    rows += judge.judge(r.rounds[s * kRounds + kRounds - 1], Thresholds()).size();
  return rows;
}

// One station's latest round with that station's data only, as assess does.
qsizetype JudgeOneStation(const Register &r) {
  const int s = kStations - 1;
  return JudgeRound(r.rounds[s * kRounds + kRounds - 1], r.arresters.mid(s * kPerStation, kPerStation),
                    r.rounds.mid(s * kRounds, kRounds),
                    r.results.mid(s * kRounds * kPerStation, kRounds * kPerStation), Thresholds())
      .size();
}

bool BenchJudgement(const QString &path) {
  const Register r = MakeRegister();
  std::vector<double> judge;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    const qsizetype rows = JudgeLatestRounds(r);
    judge.push_back(MsSince(t));
    if (rows != kStations * kPerStation) {
      std::printf("assessment judgement: %lld rows instead of %d\n", static_cast<long long>(rows),
                  kStations * kPerStation);
      return false;
    }
  }
  Print("assessment judge 10^4 arresters x 10 rounds (latest round of 20 stations)", Median(judge), "ms");
  std::vector<double> one;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    const qsizetype rows = JudgeOneStation(r);
    one.push_back(MsSince(t));
    if (rows != kPerStation) {
      std::printf("assessment judgement of one station: %lld rows\n", static_cast<long long>(rows));
      return false;
    }
  }
  Print("assessment judge one station's round (500 arresters x 10 rounds)", Median(one), "ms");

  // The same register in a SQLite archive, read back as assess reads it.
  Archive a;
  if (!a.open(path)) {
    std::printf("assessment archive: %s\n", qPrintable(a.errorText()));
    return false;
  }
  AssetStore store(a);
  QList<ArresterRecord> arresters = r.arresters;
  QList<RoundRecord> rounds = r.rounds;
  QList<ResultRecord> results = r.results;
  bool stored = a.beginWrite();
  for (ArresterRecord &arrester : arresters) stored = stored && store.saveArrester(arrester);
  for (RoundRecord &round : rounds) stored = stored && store.saveRound(round);
  stored = stored && store.saveResults(results) && a.commit();
  if (!stored) {
    std::printf("assessment archive fill failed: %s / %s\n", qPrintable(store.errorText()),
                qPrintable(a.errorText()));
    return false;
  }
  std::vector<double> load;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    const std::optional<QList<ArresterRecord>> loaded = store.arresters();
    const std::optional<QList<RoundRecord>> loadedRounds = store.rounds();
    const std::optional<QList<ResultRecord>> loadedResults = store.allResults();
    load.push_back(MsSince(t));
    if (!loaded || !loadedRounds || !loadedResults || loadedResults->size() != results.size()) {
      std::printf("assessment archive load failed: %s\n", qPrintable(store.errorText()));
      return false;
    }
  }
  Print("assessment load 10^4 arresters, 200 rounds, 10^5 results from SQLite", Median(load), "ms");
  return true;
}

// 10^4 register rows as an import file: Chinese column names, UTF-8.
QByteArray RegisterFile() {
  QString text = QStringLiteral("变电站,电压等级,间隔,相别,型号,出厂编号,投运日期,初始值,初始值日期\r\n");
  for (int s = 0; s < kStations; ++s)
    for (int k = 0; k < kPerStation; ++k) {
      const ArresterRecord a = MakeArrester(s, k);
      text += QStringLiteral("%1,%2,%3,%4,%5,%6,2014-04-20,%7mA,2014-05-01\r\n")
                  .arg(a.station, a.voltageLevel, a.bay, a.phase, a.model, a.serialNumber)
                  .arg(*a.initialMilliAmps);
    }
  return text.toUtf8();
}

// Read, planned against what is stored, stored; the milliseconds it took.
std::optional<double> ImportOnce(Archive &a, const QByteArray &file, ImportCounts *counts) {
  QElapsedTimer t;
  t.start();
  AssetStore store(a);
  const ParsedRegister parsed = ParseRegisterCsv(file);
  const std::optional<QList<ArresterRecord>> stored = store.arresters();
  if (!parsed.problems.isEmpty() || !stored) return std::nullopt;
  const QList<ImportAction> plan = PlanImport(parsed, *stored);
  if (plan.size() != parsed.rows.size() || !store.importArresters(ImportRows(plan), counts))
    return std::nullopt;
  return MsSince(t);
}

bool BenchImport(const QTemporaryDir &dir) {
  const QByteArray file = RegisterFile();
  std::vector<double> fresh, again;
  for (int run = 0; run < kRuns; ++run) {
    Archive a;
    if (!a.open(dir.filePath(QStringLiteral("import-%1.sqlite").arg(run)))) {
      std::printf("assessment import: %s\n", qPrintable(a.errorText()));
      return false;
    }
    ImportCounts first, second;
    const std::optional<double> ms = ImportOnce(a, file, &first);
    const std::optional<double> msAgain = ImportOnce(a, file, &second);
    if (!ms || !msAgain || first.added != kStations * kPerStation || second.unchanged != first.added) {
      std::printf("assessment import failed: %s\n", qPrintable(a.errorText()));
      return false;
    }
    fresh.push_back(*ms);
    again.push_back(*msAgain);
  }
  Print("assessment import 10^4 register rows into a fresh archive", Median(fresh), "ms");
  Print("assessment import 10^4 register rows again (all unchanged)", Median(again), "ms");
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  if (!BenchJudgement(dir.filePath(QStringLiteral("register.sqlite")))) return 1;
  return BenchImport(dir) ? 0 : 1;
}
