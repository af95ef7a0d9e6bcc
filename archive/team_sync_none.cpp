#include "archive/team_sync.h"

// The team sync for builds without libpq (the Windows build): it says so
// and copies nothing.

void InterruptSync() {}

SyncReport SyncToServer(Archive &, const QString &, const SyncOptions &) {
  SyncReport report;
  report.outcome = SyncReport::NotInThisBuild;
  report.error = QStringLiteral("the team sync is not in this build; sync the archive from a Linux machine");
  return report;
}

QString SyncSummary(const SyncReport &) { return QString(); }
