// sync: copies the local archive to the team's PostgreSQL server.
#include <cmath>

#include "archive/archive.h"
#include "archive/team_sync.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/meter_client.h"

namespace cli {

int RunSync(const QStringList &args) {
  CommandLine line(
      QStringLiteral("sync SERVER [options]"),
      QStringLiteral("Copies every recording and download of the archive that the team server\n"
                     "does not hold yet, with all their readings and groups, one transaction\n"
                     "each; running it again copies nothing twice. A label changed since travels\n"
                     "to the other side (the later change wins). SERVER is a libpq connection\n"
                     "string: postgresql://user@host:port/dbname or \"host=... dbname=...\". The\n"
                     "password comes from PGPASSWORD or ~/.pgpass, never from the command line.\n"
                     "The server's tables are made on first use. A progress bar goes to standard\n"
                     "error when that is a terminal. Entries are read as they stand when the\n"
                     "sync starts; a recording still running is completed by a later sync.\n"
                     "Ctrl+C stops it: the entry being copied is not kept (exit 130)."));
  const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                  QStringLiteral("Show what would be copied; write nothing."));
  line.addOption(dryRun);
  const QCommandLineOption timeout(QStringLiteral("timeout"),
                                   QStringLiteral("Give up (exit 3) when the server does not answer for this "
                                                  "long: 90, 90s, 2m (default 60s)."),
                                   QStringLiteral("time"), QStringLiteral("60"));
  line.addOption(timeout);
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("SERVER"),
                                    QStringLiteral("The team server's connection string."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;
  const QString server = line.parser.positionalArguments().first();
  if (server.trimmed().isEmpty())
    return line.usageError(QStringLiteral("sync needs the team server's connection string"));
  double timeoutSeconds = 0;
  if (!ParseSeconds(line.parser.value(timeout), &timeoutSeconds) || timeoutSeconds > 24 * 3600)
    return line.usageError(QStringLiteral("invalid --timeout: %1").arg(line.parser.value(timeout)));

  Archive local;
  const QString path = ResolveArchivePath(line.parser.value(QStringLiteral("archive")));
  if (!local.open(path)) {
    Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(path, local.errorText()));
    return kExitFailure;
  }

  SyncOptions options;
  options.dryRun = line.parser.isSet(dryRun);
  options.timeoutSeconds = std::max(1, int(std::ceil(timeoutSeconds)));
  options.interrupted = &g_interrupted;
  // Ctrl+C during a sync: noted, and the server asked to cancel the statement
  // the sync waits for, so it stops at once rather than when that one ends.
  CatchStopRequests(InterruptSync);
  const bool bar = ErrorIsTerminal();
  bool drawn = false;
  if (bar) {
    options.progress = [&drawn](qint64 done, qint64 total) {
      constexpr int kWidth = 30;
      const int filled = total > 0 ? int(qMin(done, total) * kWidth / total) : kWidth;
      QString text(kWidth, QLatin1Char(' '));
      for (int i = 0; i < filled; ++i) text[i] = QLatin1Char('=');
      if (filled < kWidth) text[filled] = QLatin1Char('>');
      Err(QStringLiteral("\r[%1] %2/%3 rows").arg(text).arg(done).arg(total));
      drawn = true;
    };
  }
  const SyncReport report = SyncToServer(local, server, options);
  if (drawn) Err(QStringLiteral("\n"));
  if (report.outcome != SyncReport::Done) {
    Err(QStringLiteral("arrester-cli: %1\n").arg(report.error));
    switch (report.outcome) {
      case SyncReport::ServerFailed:
      case SyncReport::TimedOut: return kExitServerFailed;
      case SyncReport::Interrupted: return kExitInterrupted;
      case SyncReport::NotInThisBuild: return kExitUsage;
      default: return kExitFailure;
    }
  }
  Out((options.dryRun ? QStringLiteral("would copy ") : QString()) + SyncSummary(report) + QLatin1Char('\n'));
  return kExitOk;
}

}  // namespace cli
