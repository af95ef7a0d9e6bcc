// The measurement archive: what appending a reading costs the window, what
// committing it costs the writer thread, how fast a 10^6-reading archive is
// exported as CSV, and how long opening and listing it takes; how long
// listing an archive of 10^5 entries takes, and exporting 20 of them named by
// their short IDs (as arrester-cli export does). Medians of a few runs.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "archive/archive.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "bench_readings.h"

namespace {

constexpr int kRuns = 5;
constexpr qint64 kArchiveReadings = 1000000;
constexpr qint64 kRecordings = 20;
constexpr qint64 kAppendReadings = 100000;
constexpr int kManyEntries = 100000;
constexpr int kExportedIds = 20;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Print(const char *name, double value, const char *unit) {
  std::printf("%s: %.3f %s\n", name, value, unit);
}

// Appending through the Recorder: the caller's cost per reading, and the
// time until the writer has committed them all, per reading.
void BenchRecorder(const QString &path) {
  std::vector<double> append, commit;
  Recorder rec(path);
  for (int run = 0; run < kRuns; ++run) {
    rec.beginRecording(RecordingInfo());
    QElapsedTimer t;
    t.start();
    const qint64 base = QDateTime::currentMSecsSinceEpoch();
    for (qint64 i = 0; i < kAppendReadings; ++i) rec.appendReading(BenchReading(i), base + i);
    const double appendNs = static_cast<double>(t.nsecsElapsed());
    rec.endRecording();
    if (!rec.flush(120000)) {
      std::printf("archive recorder: flush failed: %s\n", qPrintable(rec.stats().reason));
      return;
    }
    append.push_back(appendNs / kAppendReadings);
    commit.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0 / kAppendReadings);
  }
  Print("archive append, caller side", Median(append), "ns/reading");
  Print("archive append to committed", Median(commit), "us/reading");
}

bool FillArchive(Archive &a) {
  const qint64 per = kArchiveReadings / kRecordings;
  qint64 t = 1700000000000;
  for (qint64 r = 0; r < kRecordings; ++r) {
    RecordingInfo info;
    info.startedMs = t;
    info.endedMs = t + per * 500;
    info.portName = QStringLiteral("COM1");
    info.lineSettings = QStringLiteral("9600,N,8,1");
    QList<std::pair<qint64, ReadingGroup>> readings;
    readings.reserve(per);
    for (qint64 i = 0; i < per; ++i) readings.append({t + i * 500, BenchReading(i)});
    if (a.addRecording(info, readings).isEmpty()) return false;
    t += per * 500 + 60000;
  }
  return true;
}

// kManyEntries recordings of two readings each, in one transaction.
bool FillManyEntries(Archive &a) {
  if (!a.beginWrite()) return false;
  qint64 t = 1700000000000;
  for (int e = 0; e < kManyEntries; ++e, t += 60000) {
    RecordingInfo info;
    info.startedMs = t;
    info.endedMs = t + 1000;
    info.portName = QStringLiteral("COM1");
    info.lineSettings = QStringLiteral("9600,N,8,1");
    const std::optional<qint64> id = a.insertRecording(info);
    if (!id || !a.insertReading(*id, 1, t, BenchReading(e)) ||
        !a.insertReading(*id, 2, t + 500, BenchReading(e + 1)) || !a.addRecordingCount(*id, 2)) {
      a.rollback();
      return false;
    }
  }
  return a.commit();
}

// Listing 10^5 entries, and exporting 20 of them by short ID.
bool BenchManyEntries(const QString &path, const QString &csv) {
  Archive a;
  if (!a.open(path) || !FillManyEntries(a)) {
    std::printf("archive fill of 10^5 entries failed: %s\n", qPrintable(a.errorText()));
    return false;
  }
  std::vector<double> list;
  QList<EntrySummary> entries;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    entries = a.listEntries();
    list.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
  if (entries.size() != kManyEntries) {
    std::printf("archive list of 10^5 entries failed: %s\n", qPrintable(a.errorText()));
    return false;
  }
  Print("archive list, 10^5 entries", Median(list), "ms");

  QStringList ids;
  for (int i = 0; i < kExportedIds; ++i) ids << entries[i * (kManyEntries / kExportedIds)].uuid.left(8);
  std::vector<double> exports;
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer t;
    t.start();
    CsvExportOptions options;
    for (const QString &id : ids) {
      const std::optional<EntrySummary> e = a.findEntry(id);
      if (!e) {
        std::printf("archive export of 20 IDs: %s not found\n", qPrintable(id));
        return false;
      }
      options.entries << *e;
    }
    const CsvExportResult r = ExportCsvFile(a, csv, options);
    exports.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    if (!r.ok || r.rows != 2 * kExportedIds) {
      std::printf("archive export of 20 IDs failed: %s\n", qPrintable(r.error));
      return false;
    }
  }
  Print("archive export of 20 IDs, 10^5 entries", Median(exports), "ms");
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  BenchRecorder(dir.filePath("recorder.sqlite"));

  const QString path = dir.filePath("million.sqlite");
  {
    Archive a;
    QElapsedTimer t;
    t.start();
    if (!a.open(path) || !FillArchive(a)) {
      std::printf("archive fill failed: %s\n", qPrintable(a.errorText()));
      return 1;
    }
    Print("archive bulk insert, 10^6 readings",
          static_cast<double>(t.nsecsElapsed()) / 1000.0 / kArchiveReadings, "us/reading");
  }

  std::vector<double> openList;
  for (int run = 0; run < kRuns; ++run) {
    QElapsedTimer t;
    t.start();
    Archive a;
    const bool ok = a.open(path);
    const QList<EntrySummary> entries = a.listEntries();
    openList.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    if (!ok || entries.size() != kRecordings) {
      std::printf("archive open + list failed: %s\n", qPrintable(a.errorText()));
      return 1;
    }
  }
  Print("archive open + list, 10^6 readings", Median(openList), "ms");

  std::vector<double> rates;
  Archive a;
  a.open(path);
  for (int run = 0; run < 3; ++run) {
    QFile out(dir.filePath("export.csv"));
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QElapsedTimer t;
    t.start();
    const CsvExportResult r = ExportCsv(a, out, {});
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    if (!r.ok || r.rows != kArchiveReadings) {
      std::printf("archive CSV export failed: %s\n", qPrintable(r.error));
      return 1;
    }
    rates.push_back(static_cast<double>(r.rows) / s);
  }
  Print("archive CSV export, 10^6 readings", Median(rates), "rows/s");
  return BenchManyEntries(dir.filePath("entries.sqlite"), dir.filePath("ids.csv")) ? 0 : 1;
}
