#include "cli/outputs.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

#include "archive/archive.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/meter_client.h"

namespace cli {

namespace {

// How long the end of a run waits for the archive to take what is queued.
constexpr int kFlushTimeoutMs = 15000;

}  // namespace

struct Outputs::State {
  bool record = true;
  QString csvPath;                       // empty: no CSV; "-": standard output
  QString archivePath;                   // where the rows go (maybe a scratch file)
  std::optional<QTemporaryDir> scratch;  // --no-record with --csv: a throwaway archive
  std::unique_ptr<Recorder> recorder;
  EntryKind kind = EntryKind::Recording;
  QString uuid;         // the recording or download written
  bool gbk = false;     // --encoding gbk
  qint64 readings = 0;  // live readings handed over
};

Outputs::Outputs() : d_(std::make_unique<State>()) {}
Outputs::~Outputs() = default;

int Outputs::setUp(const CommandLine &line, Kind kind) {
  d_->record = !line.parser.isSet(QStringLiteral("no-record"));
  d_->csvPath = line.parser.value(QStringLiteral("csv"));
  d_->kind = kind == Kind::Live ? EntryKind::Recording : EntryKind::Download;
  csvOnStdout_ = d_->csvPath == QLatin1String("-");
  if (const int rc = setUpEncoding(line); rc >= 0) return rc;
  if (!d_->record && d_->csvPath.isEmpty()) return -1;

  if (d_->record) {
    d_->archivePath = ResolveArchivePath(line.parser.value(QStringLiteral("archive")));
  } else {
    // The CSV is written by the archive's own writer, so the rows go to a
    // scratch archive that disappears afterwards.
    d_->scratch.emplace();
    if (!d_->scratch->isValid()) {
      Err(QStringLiteral("arrester-cli: cannot make a temporary folder for the CSV\n"));
      return kExitFailure;
    }
    d_->archivePath = d_->scratch->filePath(QStringLiteral("scratch.sqlite"));
  }
  // Fail before the meter is touched when the archive cannot be used at all.
  // A read-only file opens and reads well, and even takes the write lock:
  // only a write (the schema version as it is, rolled back) shows that
  // nothing could be stored.
  {
    Archive check;
    if (!check.open(d_->archivePath)) {
      Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(d_->archivePath, check.errorText()));
      return kExitFailure;
    }
    QSqlError refused;
    QSqlDatabase db = check.database();
    const bool writable = check.beginWrite() &&
                          MakeSqliteDialect()->setSchemaVersion(db, check.storedSchemaVersion(), &refused);
    if (!writable) {
      Err(QStringLiteral("arrester-cli: archive %1 cannot be written (%2); the meter was not read "
                         "(--no-record reads it without recording)\n")
              .arg(d_->archivePath, check.failure() == ArchiveFailure::ReadOnly ||
                                            MakeSqliteDialect()->classify(refused) == ArchiveFailure::ReadOnly
                                        ? QStringLiteral("the file or its folder is read-only")
                                    : refused.type() != QSqlError::NoError ? refused.text()
                                                                           : check.errorText()));
      check.rollback();
      return kExitFailure;
    }
    check.rollback();
  }
  d_->recorder = std::make_unique<Recorder>(d_->archivePath);
  return -1;
}

void Outputs::begin(const QString &portName, const QString &device, const QString &settings) {
  if (!d_->recorder) return;
  RecordingInfo info;
  info.portName = portName;
  info.device = device;
  info.lineSettings = settings;
  info.label = QStringLiteral("");  // no label yet: empty, not null
  d_->uuid = d_->recorder->beginRecording(info);
}

void Outputs::liveReading(qint64 utcMs, const ReadingGroup &group) {
  ++d_->readings;
  if (d_->recorder) d_->recorder->appendReading(group, utcMs);
}

int Outputs::setUpEncoding(const CommandLine &line) {
  QString why;
  const std::optional<bool> gbk = line.gbkEncoding(&why);
  if (!gbk) return line.usageError(why);
  d_->gbk = *gbk;
  return -1;
}

void Outputs::download(qint64 utcMs, const QString &portName, const QString &device, int announced,
                       const QByteArray &block) {
  if (!d_->recorder) return;
  DownloadInfo info;
  info.utcMs = utcMs;
  info.portName = portName;
  info.device = device;
  info.groupsAnnounced = announced;
  info.label = QStringLiteral("");  // no label yet: empty, not null
  d_->uuid = d_->recorder->recordDownload(info, block);
}

int Outputs::finish() {
  if (!d_->recorder) return -1;
  d_->recorder->endRecording();
  // A live run without a single reading leaves nothing behind (the recorder
  // does not keep it), so there is nothing to name or export either.
  if (d_->kind == EntryKind::Recording && d_->readings == 0) {
    d_->uuid.clear();
    QStringList none;
    if (d_->record) none << QStringLiteral("nothing recorded");
    if (!d_->csvPath.isEmpty()) none << QStringLiteral("no CSV written");
    Err(QStringLiteral("No reading arrived: %1\n").arg(none.join(QStringLiteral(", "))));
  }
  const bool flushed = d_->recorder->flush(kFlushTimeoutMs);
  const RecorderStats stats = d_->recorder->stats();
  d_->recorder.reset();
  if (!flushed || stats.failing) {
    Err(QStringLiteral("arrester-cli: archive %1: not written: %2\n")
            .arg(d_->archivePath, stats.reason.isEmpty() ? QStringLiteral("timed out") : stats.reason));
    return kExitFailure;
  }
  // What went into a file that was then deleted or replaced is gone with it;
  // the rest is in the file now at the path.
  if (stats.replacedFiles > 0)
    Err(QStringLiteral("arrester-cli: archive %1 was deleted or replaced during the run; what was recorded "
                       "before that is not in it\n")
            .arg(d_->archivePath));
  if (d_->record && !d_->uuid.isEmpty())
    Err(QStringLiteral("Recorded as %1 in %2\n").arg(d_->uuid, d_->archivePath));
  if (d_->csvPath.isEmpty() || d_->uuid.isEmpty()) return -1;

  Archive archive;
  std::optional<EntrySummary> entry;
  if (archive.open(d_->archivePath)) entry = archive.findEntry(d_->uuid);
  if (!entry) {
    Err(QStringLiteral("arrester-cli: archive %1: %2\n")
            .arg(d_->archivePath,
                 archive.errorText().isEmpty() ? QStringLiteral("entry not found") : archive.errorText()));
    return kExitFailure;
  }
  return WriteCsv(archive, {*entry}, d_->csvPath, d_->gbk);
}

int WriteCsv(Archive &archive, const QList<EntrySummary> &entries, const QString &path, bool gbk) {
  CsvExportOptions options;
  options.entries = entries;
  if (gbk) options.encoding = CsvEncoding::Gbk;
  CsvExportResult result;
  if (path == QLatin1String("-")) {
    std::fflush(stdout);
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
      Err(QStringLiteral("arrester-cli: cannot write to standard output\n"));
      return kExitFailure;
    }
    // A pipe reader wants plain UTF-8, without the byte-order mark.
    if (!gbk) options.encoding = CsvEncoding::Utf8;
    result = ExportCsv(archive, out, options, [](qint64, qint64) { return !g_interrupted; });
    if (result.ok && !out.flush()) {
      result.ok = false;
      result.error = out.errorString();
    }
  } else {
    result = ExportCsvFile(archive, path, options, [](qint64, qint64) { return !g_interrupted; });
  }
  // Ctrl+C stops the export; a file is then not written at all.
  if (g_interrupted) {
    Err(path == QLatin1String("-")
            ? QStringLiteral("arrester-cli: interrupted\n")
            : QStringLiteral("arrester-cli: interrupted; %1 was not written\n").arg(path));
    return kExitInterrupted;
  }
  if (!result.ok) {
    Err(QStringLiteral("arrester-cli: CSV %1: %2\n").arg(path, result.error));
    return kExitFailure;
  }
  return -1;
}

}  // namespace cli
