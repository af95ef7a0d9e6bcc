#include "archive/team_sync.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

#include "archive/archive.h"

namespace {

// An error text on one line: drivers add hints on lines of their own.
QString OneLine(const QString &text) { return text.section(QLatin1Char('\n'), 0, 0).simplified(); }

QString ServerProblem(const Archive &server, bool connected) {
  const QString why = OneLine(server.errorText());
  switch (server.failure()) {
    case ArchiveFailure::CannotOpen:
      return (connected ? QStringLiteral("lost the connection to the team server: ")
                        : QStringLiteral("cannot reach the team server: ")) +
             why;
    case ArchiveFailure::ReadOnly:
      return QStringLiteral("the team server does not let this user write: ") + why;
    case ArchiveFailure::NotAnArchive:
      return QStringLiteral("the team server's ") + why + QStringLiteral("; nothing was written");
    default: return QStringLiteral("team server: ") + why;
  }
}

QString Counted(qint64 n, const char *one, const char *many) {
  return QLocale(QLocale::English).toString(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// A download that repeats an earlier one byte for byte stays on this
// computer: the server has the earlier one.
bool StaysLocal(const EntrySummary &e) { return !e.repeatOf.isEmpty(); }

// Whether a label stamped `a` was changed after one stamped `b`.
bool Later(std::optional<qint64> a, std::optional<qint64> b) { return a && (!b || *a > *b); }

}  // namespace

SyncReport SyncToServer(Archive &local, const QString &server, const SyncOptions &options) {
  SyncReport report;
  auto localFailed = [&]() {
    report.outcome = SyncReport::LocalFailed;
    report.error = QStringLiteral("local archive: ") + OneLine(local.errorText());
    return report;
  };
  QList<EntrySummary> entries = local.listEntries();
  if (entries.isEmpty() && !local.errorText().isEmpty()) return localFailed();
  std::reverse(entries.begin(), entries.end());  // oldest first

  Archive remote(MakePostgresDialect());
  bool connected = false;
  auto serverFailed = [&]() {
    report.outcome = SyncReport::ServerFailed;
    report.error = ServerProblem(remote, connected);
    return report;
  };
  // A dry run writes nothing, not even the schema of a new server.
  if (!remote.open(server, !options.dryRun)) return serverFailed();
  connected = true;
  QHash<QString, Archive::StoredEntry> held[2];
  if (remote.storedSchemaVersion() > 0) {
    for (EntryKind kind : {EntryKind::Recording, EntryKind::Download}) {
      std::optional<QHash<QString, Archive::StoredEntry>> s = remote.storedEntries(kind);
      if (!s) return serverFailed();
      held[static_cast<int>(kind)] = std::move(*s);
    }
  }
  auto heldOf = [&held](const EntrySummary &e) -> const Archive::StoredEntry * {
    const QHash<QString, Archive::StoredEntry> &h = held[static_cast<int>(e.kind)];
    const auto it = h.constFind(e.uuid);
    return it == h.constEnd() ? nullptr : &*it;
  };

  qint64 total = 0;
  for (const EntrySummary &e : entries) {
    const Archive::StoredEntry *s = heldOf(e);
    if (!StaysLocal(e)) total += std::max<qint64>(0, e.count - (s ? s->count : 0));
  }
  qint64 done = 0;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();

  for (const EntrySummary &e : entries) {
    if (StaysLocal(e)) {
      ++report.repeats;
      continue;
    }
    const bool recording = e.kind == EntryKind::Recording;
    const Archive::StoredEntry *s = heldOf(e);
    // Rows the server lacks: all of a new entry, the tail of a recording
    // that went on after it was last copied.
    const qint64 from = s ? s->count : 0;
    const bool copy = !s || (recording && e.count > s->count);
    if (copy) {
      const qint64 rows = e.count - from;
      (recording ? report.recordings : report.downloads) += 1;
      (recording ? report.readings : report.groups) += rows;
      if (!options.dryRun) {
        if (!remote.beginWrite()) return serverFailed();
        std::optional<qint64> id = s ? std::optional<qint64>(s->id) : remote.insertEntryCopy(e);
        const std::unique_ptr<RowStream> stream = local.streamRows(e, from);
        const qint64 before = done;
        const qint64 copied = id ? remote.appendRows(e.kind, *id, *stream,
                                                     [&](qint64 n) {
                                                       done = before + n;
                                                       if (options.progress) options.progress(done, total);
                                                     })
                                 : -1;
        if (stream->error().type() != QSqlError::NoError) {
          remote.rollback();
          report.outcome = SyncReport::LocalFailed;
          report.error = QStringLiteral("local archive: ") + OneLine(stream->error().text());
          return report;
        }
        const bool ok = copied == rows &&
                        (!recording || remote.setRecordingTotals(*id, e.count, e.endedMs)) && remote.commit();
        if (!ok) {
          remote.rollback();
          return serverFailed();
        }
      }
    } else {
      ++report.alreadyThere;
    }

    // The label changed last wins; the server's copy above carried ours.
    if (s && s->label != e.label) {
      if (Later(e.labelModifiedMs, s->labelModifiedMs)) {
        ++report.labelsToServer;
        if (!options.dryRun && !remote.setLabel(e.kind, e.uuid, e.label, e.labelModifiedMs))
          return serverFailed();
      } else if (Later(s->labelModifiedMs, e.labelModifiedMs)) {
        ++report.labelsFromServer;
        if (!options.dryRun && !local.setLabel(e.kind, e.uuid, s->label, s->labelModifiedMs))
          return localFailed();
      }
    }
    if (!options.dryRun && (copy || !e.syncedMs) && !local.markSynced(e.kind, e.uuid, now))
      return localFailed();
  }
  return report;
}

QString SyncSummary(const SyncReport &r) {
  QString text = Counted(r.recordings, "recording", "recordings") + QStringLiteral(", ") +
                 Counted(r.readings, "reading", "readings") + QStringLiteral("; ") +
                 Counted(r.downloads, "download", "downloads") + QStringLiteral(", ") +
                 Counted(r.groups, "group", "groups") + QStringLiteral("; ") +
                 QLocale(QLocale::English).toString(r.alreadyThere) + QStringLiteral(" already there");
  if (r.repeats > 0)
    text += QStringLiteral("; ") + Counted(r.repeats, "repeated download", "repeated downloads") +
            QStringLiteral(" left out");
  if (r.labelsToServer > 0)
    text += QStringLiteral("; ") + Counted(r.labelsToServer, "label", "labels") + QStringLiteral(" sent");
  if (r.labelsFromServer > 0)
    text += QStringLiteral("; ") + Counted(r.labelsFromServer, "label", "labels") +
            QStringLiteral(" taken from the server");
  return text;
}
