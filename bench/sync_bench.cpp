// Copying to a team server: a local archive of 10^6 readings (ten
// recordings) synced to an empty PostgreSQL database on this machine, in
// rows per second. The server is named by ARRESTER_TEST_PG (scripts/bench
// starts a throwaway one).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/team_sync.h"
#include "bench_readings.h"

namespace {

constexpr qint64 kReadings = 1000000;
constexpr int kRecordings = 10;

bool FillLocal(Archive &a) {
  const qint64 each = kReadings / kRecordings;
  for (int r = 0; r < kRecordings; ++r) {
    RecordingInfo info;
    info.startedMs = 1700000000000 + r * each;
    if (!a.beginWrite()) return false;
    const std::optional<qint64> id = a.insertRecording(info);
    if (!id) return false;
    for (qint64 i = 0; i < each; ++i) {
      if (!a.insertReading(*id, i + 1, info.startedMs + i, BenchReading(i))) return false;
    }
    if (!a.addRecordingCount(*id, each) || !a.setRecordingEnd(*id, info.startedMs + each) || !a.commit())
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QString server = qEnvironmentVariable("ARRESTER_TEST_PG");
  if (server.isEmpty()) {
    std::printf("sync: no server (set ARRESTER_TEST_PG, or run scripts/bench)\n");
    return 1;
  }
  QTemporaryDir dir;
  Archive local;
  if (!local.open(dir.filePath(QStringLiteral("archive.sqlite"))) || !FillLocal(local)) {
    std::printf("sync: cannot fill the local archive: %s\n", qPrintable(local.errorText()));
    return 1;
  }
  const QString name = QStringLiteral("arrester_bench_%1").arg(::getpid());
  {
    Archive admin(MakePostgresDialect());
    if (!admin.open(server, false)) {
      std::printf("sync: %s\n", qPrintable(admin.errorText()));
      return 1;
    }
    QSqlQuery(admin.database()).exec(QStringLiteral("CREATE DATABASE ") + name);
  }
  SyncOptions options;
  QElapsedTimer t;
  t.start();
  const SyncReport report = SyncToServer(local, server + QStringLiteral(" dbname=") + name, options);
  const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
  {
    Archive admin(MakePostgresDialect());
    if (admin.open(server, false))
      QSqlQuery(admin.database())
          .exec(QStringLiteral("DROP DATABASE ") + name + QStringLiteral(" WITH (FORCE)"));
  }
  if (report.outcome != SyncReport::Done) {
    std::printf("sync: %s\n", qPrintable(report.error));
    return 1;
  }
  std::printf("sync of %lld readings to a local PostgreSQL: %.0f readings/s (%.2f s)\n",
              static_cast<long long>(report.readings), report.readings / seconds, seconds);
  return 0;
}
