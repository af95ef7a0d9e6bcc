// The measurement archive end to end: the schema on a new, an empty and a
// foreign file; the recorder round trip through a real database; a recording
// process killed outright; a full disk, a read-only folder and a locked
// archive, each failure told once and the rows written after recovery; two
// processes recording into one file; the CSV bytes.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "file_size_limit.h"  // support/posix or support/win, by system
#include "protocol/reading_text.h"
#include "records/records_model.h"
#include "sample_readings.h"
#include "unprivileged.h"

namespace {

QVariant Scalar(const QSqlDatabase &db, const QString &sql) {
  QSqlQuery q(db);
  if (!q.exec(sql) || !q.next()) return QVariant();
  return q.value(0);
}

ReadingGroup Group(int high, int low, int code) {
  ReadingGroup g;
  g.high = static_cast<quint8>(high);
  g.low = static_cast<quint8>(low);
  g.code = static_cast<quint8>(code);
  return g;
}

QByteArray Block(const QList<ReadingGroup> &groups) {
  QByteArray b;
  for (const ReadingGroup &g : groups) {
    b.append(static_cast<char>(g.high)).append(static_cast<char>(g.low)).append(static_cast<char>(g.code));
  }
  return b;
}

// Everything a fresh archive must be: current schema, write-ahead log,
// enforced foreign keys, a busy timeout, and every row read back intact.
void CheckArchiveHealth(Archive &a) {
  const QSqlDatabase db = a.database();
  QCOMPARE(Scalar(db, "PRAGMA user_version").toInt(), Archive::kSchemaVersion);
  QCOMPARE(Scalar(db, "PRAGMA journal_mode").toString(), QString("wal"));
  QCOMPARE(Scalar(db, "PRAGMA foreign_keys").toInt(), 1);
  QVERIFY(Scalar(db, "PRAGMA busy_timeout").toInt() >= 1000);
  QCOMPARE(Scalar(db, "PRAGMA integrity_check").toString(), QString("ok"));
}

// Every reading of a recording, checked against the samples it was made of:
// numbers 1..n without a gap, and the count the listing keeps agrees.
qint64 CheckSampleRecording(Archive &a, const EntrySummary &e, qint64 firstSample = 0) {
  qint64 n = 0;
  bool same = true;
  a.forEachRow(e, [&](const ArchivedRow &r) {
    const ReadingGroup g = SampleReading(firstSample + n);
    const ArchivedRow want = DescribeGroup(g, false);
    ++n;
    same = r.number == n && r.utcMs == SampleTime(firstSample + n - 1) && r.raw == want.raw &&
           r.text == want.text && r.value == want.value && r.milliAmps == want.milliAmps &&
           r.kind == want.kind && r.unit == want.unit && r.code == g.code;
    return same;
  });
  if (!same) qWarning() << "reading" << n << "of" << e.uuid << "differs";
  return same && n == e.count ? n : -1;
}

// The SQLite dialect with its native row reading and statements taken away:
// everything goes through the generic Qt SQL path other engines use.
class GenericPathDialect final : public SqlDialect {
 public:
  QString driverName() const override { return inner_->driverName(); }
  QStringList connectionSetup() const override { return inner_->connectionSetup(); }
  QString schemaText(QString text) const override { return inner_->schemaText(text); }
  int schemaVersion(QSqlDatabase &db, QSqlError *error) const override {
    return inner_->schemaVersion(db, error);
  }
  bool setSchemaVersion(QSqlDatabase &db, int version, QSqlError *error) const override {
    return inner_->setSchemaVersion(db, version, error);
  }
  QString beginWriteStatement() const override { return inner_->beginWriteStatement(); }
  ArchiveFailure classify(const QSqlError &error) const override { return inner_->classify(error); }

 private:
  std::unique_ptr<SqlDialect> inner_ = MakeSqliteDialect();
};

// The writer child: a Recorder in its own process, driven by lines.
class WriterChild {
 public:
  explicit WriterChild(const QStringList &args) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral(ARCHIVE_WRITER_PATH), args);
    proc_.waitForStarted();
  }
  ~WriterChild() {
    if (proc_.state() != QProcess::NotRunning) {
      proc_.kill();
      proc_.waitForFinished();
    }
  }
  void send(const QByteArray &line) { proc_.write(line + '\n'); }
  // Waits for a line starting with `prefix`; returns it without the prefix.
  std::optional<QByteArray> waitFor(const QByteArray &prefix, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
      for (int i = seen_; i < lines_.size(); ++i) {
        if (lines_[i].startsWith(prefix)) {
          seen_ = i + 1;
          return lines_[i].mid(prefix.size());
        }
      }
      seen_ = lines_.size();
      if (deadline.hasExpired() || !readMore(deadline)) return std::nullopt;
    }
  }
  // Waits until the child reports at least `committed` readings and
  // `failures` failed attempts.
  bool waitForStats(qint64 committed, qint64 failures, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
      for (int i = lines_.size() - 1; i >= 0; --i) {
        if (!lines_[i].startsWith("stats ")) continue;
        const QList<QByteArray> v = lines_[i].split(' ');
        if (v[1].toLongLong() >= committed && v[2].toLongLong() >= failures) return true;
        break;
      }
      if (deadline.hasExpired() || !readMore(deadline)) return false;
    }
  }
  // Readings committed, as last reported.
  qint64 committed() const {
    for (int i = lines_.size() - 1; i >= 0; --i) {
      if (lines_[i].startsWith("stats ")) return lines_[i].split(' ')[1].toLongLong();
    }
    return 0;
  }
  int count(const QByteArray &prefix) const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                          [&](const QByteArray &l) { return l.startsWith(prefix); }));
  }
  void quit() {
    send("quit");
    proc_.closeWriteChannel();
    QVERIFY(proc_.waitForFinished(30000));
    QCOMPARE(proc_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc_.exitCode(), 0);
    readMore(QDeadlineTimer(0));
  }
  // SIGKILL, or TerminateProcess on Windows: no chance to clean up.
  void killHard() {
    proc_.kill();
    proc_.waitForFinished();
  }

 private:
  bool readMore(const QDeadlineTimer &deadline) {
    if (!proc_.bytesAvailable() && !proc_.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime()))) {
      if (proc_.state() == QProcess::NotRunning) {
        buffer_ += proc_.readAll();
      } else {
        return !deadline.hasExpired();
      }
    }
    buffer_ += proc_.readAll();
    int eol;
    while ((eol = buffer_.indexOf('\n')) >= 0) {
      lines_.append(buffer_.left(eol).trimmed());  // without the \r Windows writes
      buffer_.remove(0, eol + 1);
    }
    return proc_.state() != QProcess::NotRunning || proc_.bytesAvailable() > 0;
  }

  QProcess proc_;
  QByteArray buffer_;
  QList<QByteArray> lines_;
  int seen_ = 0;
};

}  // namespace

class ArchiveTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // A fixed zone for the CSV's local times, and a locale that writes a
    // decimal comma, which the CSV must not pick up.
    qputenv("TZ", "CST-8");
    tzset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  }

  void pathFollowsOptionThenEnvironment() {
    const QByteArray oldArchive = qgetenv("ARRESTER_ARCHIVE");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("ARRESTER_ARCHIVE", "/x/env.sqlite");
    qputenv("XDG_DATA_HOME", "/data");
    QCOMPARE(ResolveArchivePath("/x/option.sqlite"), QString("/x/option.sqlite"));
    QCOMPARE(ResolveArchivePath(), QString("/x/env.sqlite"));
    qunsetenv("ARRESTER_ARCHIVE");
#ifdef Q_OS_WIN
    // Windows' own application-data folder, whatever the XDG variables say,
    // and the same for every program of ours.
    QCoreApplication::setApplicationName("arrester-monitor");
    QCOMPARE(ResolveArchivePath(),
             QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/archive.sqlite");
#else
    QCOMPARE(ResolveArchivePath(), QString("/data/arrester-monitor/archive.sqlite"));
    qputenv("XDG_DATA_HOME", "relative");  // not absolute: ignored
    QCOMPARE(ResolveArchivePath(), QDir::homePath() + "/.local/share/arrester-monitor/archive.sqlite");
#endif
    qputenv("ARRESTER_ARCHIVE", oldArchive);
    qputenv("XDG_DATA_HOME", oldData);
    if (oldArchive.isEmpty()) qunsetenv("ARRESTER_ARCHIVE");
    if (oldData.isEmpty()) qunsetenv("XDG_DATA_HOME");
  }

  // A new file in a folder still to be made, and an existing empty file, both
  // get the schema; reopening keeps the rows; a file from a newer program and
  // a file that is no database are refused and left as they were.
  void schemaIsCreatedMigratedAndReopened() {
    QTemporaryDir dir;
    const QString fresh = dir.filePath("new/folder/archive.sqlite");
    const QString empty = dir.filePath("empty.sqlite");
    QFile(empty).open(QIODevice::WriteOnly);
    for (const QString &path : {fresh, empty}) {
      {
        Archive a;
        QVERIFY2(a.open(path), qPrintable(a.errorText()));
        CheckArchiveHealth(a);
        RecordingInfo info;
        info.startedMs = 1000;
        const QString uuid = a.addRecording(info, {{1001, Group(12, 34, 1)}, {1002, Group(0, 7, 19)}});
        QVERIFY2(!uuid.isEmpty(), qPrintable(a.errorText()));
        // Foreign keys hold: a reading of no recording is refused.
        QVERIFY(a.beginWrite());
        QVERIFY(!a.insertReading(424242, 1, 0, Group(1, 1, 1)));
        a.rollback();
      }
      Archive again;
      QVERIFY(again.open(path));
      CheckArchiveHealth(again);
      const QList<EntrySummary> list = again.listRecordings();
      QCOMPARE(list.size(), 1);
      QCOMPARE(list[0].count, 2);
      QCOMPARE(list[0].first->text, QString("12.34mA"));
      QCOMPARE(list[0].last->text, QString("-0.7A"));
      QCOMPARE(list[0].programVersion, ArchiveProgramVersion());
    }

    {
      Archive a;
      QVERIFY(a.open(fresh));
      QSqlQuery(a.database()).exec("PRAGMA user_version = 99");
    }
    Archive newer;
    QVERIFY(!newer.open(fresh));
    QCOMPARE(newer.failure(), ArchiveFailure::NewerSchema);
    const QString text = dir.filePath("notes.txt");
    {
      QFile f(text);
      f.open(QIODevice::WriteOnly);
      f.write(QByteArray(4096, 'x'));
    }
    Archive foreign;
    QVERIFY(!foreign.open(text));
    QCOMPARE(foreign.failure(), ArchiveFailure::NotAnArchive);
    QFile f(text);
    f.open(QIODevice::ReadOnly);
    QCOMPARE(f.readAll(), QByteArray(4096, 'x'));
  }

  // What the window does: a recording of live readings and a download, read
  // back as listed entries and rows, then labelled.
  void recorderRoundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath("archive.sqlite");
    QString recordingUuid, downloadUuid;
    const int n = 250;
    {
      Recorder rec(path);
      QSignalSpy failed(&rec, &Recorder::writeFailed);
      QVERIFY(!rec.appendReading(Group(1, 1, 1)));  // no recording open
      RecordingInfo info;
      info.startedMs = SampleTime(0) - 5;
      info.portName = "COM3";
      info.device = "/dev/ttyUSB0";
      info.lineSettings = "9600,N,8,1";
      recordingUuid = rec.beginRecording(info);
      for (int i = 0; i < n; ++i) QVERIFY(rec.appendReading(SampleReading(i), SampleTime(i)));
      rec.endRecording(SampleTime(n));
      QVERIFY(!rec.isRecording());
      DownloadInfo dl;
      dl.utcMs = SampleTime(n) + 60000;
      dl.portName = "COM3";
      dl.groupsAnnounced = 5;  // three whole groups and a stray byte arrived
      downloadUuid = rec.recordDownload(
          dl, Block({Group(12, 34, 1), Group(0, 7, 19), Group(1, 5, 10)}) + QByteArray(1, 9));
      QVERIFY(rec.flush());
      QCOMPARE(rec.stats().committedReadings, n);
      QCOMPARE(rec.stats().committedDownloads, 1);
      QCOMPARE(failed.count(), 0);
    }

    Archive a;
    QVERIFY(a.open(path));
    const QList<EntrySummary> all = a.listEntries();
    QCOMPARE(all.size(), 2);
    const EntrySummary d = all[0];  // the newer one first
    const EntrySummary r = all[1];
    QCOMPARE(d.kind, EntryKind::Download);
    QCOMPARE(d.uuid, downloadUuid);
    QCOMPARE(d.count, 3);
    QCOMPARE(d.groupsAnnounced, 5);
    QVERIFY(!d.complete);
    QCOMPARE(r.uuid, recordingUuid);
    QCOMPARE(r.endedMs, SampleTime(n));
    QCOMPARE(r.device, QString("/dev/ttyUSB0"));
    QCOMPARE(r.lineSettings, QString("9600,N,8,1"));
    QCOMPARE(r.last->number, n);
    QCOMPARE(CheckSampleRecording(a, r), n);

    // Stored values carry the sign the meter showed and the unit it used.
    QList<ArchivedRow> rows;
    a.forEachRow(d, [&](const ArchivedRow &row) {
      rows.append(row);
      return true;
    });
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].text, QString("AC 12.34 mA"));
    QCOMPARE(rows[1].text, QString("DC -0.7 A"));
    QCOMPARE(rows[1].value, -0.7);
    QCOMPARE(rows[1].milliAmps, -700.0);
    QCOMPARE(rows[2].text, QString("AC 0.105mA"));
    QCOMPARE(rows[2].utcMs, d.startedMs);
    QCOMPARE(rows[2].number, 3);
    QCOMPARE(a.findEntry(recordingUuid.left(8))->uuid, recordingUuid);

    QVERIFY(a.setLabel(EntryKind::Recording, recordingUuid, "A相 3号", 777));
    QVERIFY(!a.setLabel(EntryKind::Download, recordingUuid, "wrong kind"));
    const EntrySummary labelled = a.listRecordings().value(0);
    QCOMPARE(labelled.label, QString("A相 3号"));
    QCOMPARE(labelled.labelModifiedMs, 777);
  }

  // Another connection holds the write lock beyond the busy timeout while
  // far more readings arrive than the queue keeps: appending goes on, the
  // oldest are dropped and counted, the lock is told once, and once it goes
  // everything kept is written.
  void lockedArchiveDropsOldestAndRecovers() {
    QTemporaryDir dir;
    const QString path = dir.filePath("archive.sqlite");
    Archive holder;
    QVERIFY(holder.open(path));
    Recorder rec(path);
    QSignalSpy failed(&rec, &Recorder::writeFailed);
    QSignalSpy recovered(&rec, &Recorder::writeRecovered);
    rec.beginRecording(RecordingInfo());
    QVERIFY(holder.beginWrite());
    const qint64 total = Recorder::kMaxQueuedReadings + 20000;
    for (qint64 i = 0; i < total; ++i) rec.appendReading(SampleReading(i), SampleTime(i));
    QVERIFY(failed.wait(20000));
    QCOMPARE(failed.at(0).at(0).value<ArchiveFailure>(), ArchiveFailure::Locked);
    const RecorderStats during = rec.stats();
    QVERIFY(during.failing);
    QVERIFY(during.droppedReadings > 0);
    QVERIFY(during.queuedReadings <= Recorder::kMaxQueuedReadings);
    holder.rollback();
    QVERIFY(recovered.wait(20000));
    rec.endRecording();
    QVERIFY(rec.flush(60000));
    QCOMPARE(failed.count(), 1);

    const RecorderStats after = rec.stats();
    QCOMPARE(after.committedReadings + after.droppedReadings, total);
    const EntrySummary e = holder.listRecordings().value(0);
    QCOMPARE(e.count, after.committedReadings);
    // The newest reading is kept; the gap is where the oldest queued ones were.
    QCOMPARE(e.last->utcMs, SampleTime(total - 1));
    QCOMPARE(e.last->number, e.count);
  }

  // SIGKILL in the middle of recording: the file is sound and holds at least
  // every reading the child had seen committed, in order and without gaps.
  void killedRecorderKeepsCommittedRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath("archive.sqlite");
    WriterChild child({"--archive", path});
    child.send("begin");
    QVERIFY(child.waitFor("begun "));
    child.send("stream");
    QVERIFY(child.waitForStats(3000, 0));
    const qint64 committed = child.committed();
    child.killHard();

    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    const EntrySummary e = a.listRecordings().value(0);
    QVERIFY(e.count >= committed);
    QVERIFY(!e.endedMs);
    QCOMPARE(CheckSampleRecording(a, e), e.count);
  }

  void writeFailureIsToldOnceAndRecovers_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QList<ArchiveFailure>>("told");
    // A size limit makes the write itself fail, which the engine reports as
    // an input/output error rather than a full disk.
    if (FileSizeCap::kAvailable) {
      QTest::newRow("disk full") << "disk full"
                                 << QList<ArchiveFailure>{ArchiveFailure::DiskFull,
                                                          ArchiveFailure::WriteError};
    }
    QTest::newRow("read-only folder") << "read-only" << QList<ArchiveFailure>{ArchiveFailure::ReadOnly};
  }

  // The archive cannot take the rows (a file size limit, or a folder and
  // file without write permission): the child keeps running and retrying,
  // says so once, and once the cause is gone every row gets written.
  void writeFailureIsToldOnceAndRecovers() {
    QFETCH(QString, scenario);
    QFETCH(QList<ArchiveFailure>, told);
    QTemporaryDir dir;
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions writable =
        readOnly | QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    QVERIFY(QFile::setPermissions(dir.path(), writable));
    const QString folder = dir.filePath("archive");
    const QString path = folder + "/archive.sqlite";
    {
      Archive a;
      QVERIFY(a.open(path));
    }
    QStringList args{"--archive", path};
    if (scenario == "disk full") {
      args << "--fsize-limit" << QString::number(std::max<qint64>(QFileInfo(path).size(), 32768) + 16384);
    } else {
      args << "--unprivileged";
      QVERIFY(QFile::setPermissions(path, readOnly));
      QVERIFY(QFile::setPermissions(folder, readOnly));
      [[maybe_unused]] Unprivileged asUser;  // as the child will be
      if (QFile probe(path); probe.open(QIODevice::ReadWrite)) {
        QFile::setPermissions(path, writable);
        QSKIP("The read-only mark does not stop this user (root under Wine)");
      }
    }
    const qint64 n = 3000;
    WriterChild child(args);
    child.send("begin");
    child.send("append " + QByteArray::number(n));
    // The failure may be told before "begun": the writer opens the archive
    // as soon as it starts, and that open can already fail.
    const std::optional<QByteArray> failure = child.waitFor("failed ");
    QVERIFY(failure);
    QVERIFY(told.contains(static_cast<ArchiveFailure>(failure->toInt())));
    QVERIFY(child.waitForStats(0, 3));  // retried a few times meanwhile
    if (scenario == "disk full") {
      child.send("unlimit");
    } else {
      QVERIFY(QFile::setPermissions(folder, writable));
      QVERIFY(QFile::setPermissions(path, writable));
    }
    QVERIFY(child.waitFor("recovered"));
    child.send("end");
    child.send("flush");
    QCOMPARE(child.waitFor("flushed "), QByteArray("1"));
    child.quit();
    QCOMPARE(child.count("failed "), 1);

    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    const EntrySummary e = a.listRecordings().value(0);
    QCOMPARE(e.count, n);
    QVERIFY(e.endedMs.has_value());
    QCOMPARE(CheckSampleRecording(a, e), n);
  }

  // Two processes record into one file at the same time; both recordings
  // arrive whole.
  void twoProcessesRecordIntoOneArchive() {
    QTemporaryDir dir;
    const QString path = dir.filePath("archive.sqlite");
    const qint64 n = 4000;
    WriterChild one({"--archive", path});
    WriterChild two({"--archive", path});
    one.send("begin");
    two.send("begin");
    QVERIFY(one.waitFor("begun "));
    QVERIFY(two.waitFor("begun "));
    for (int chunk = 0; chunk < 40; ++chunk) {
      one.send("append " + QByteArray::number(n / 40));
      two.send("append " + QByteArray::number(n / 40));
      QTest::qWait(5);
    }
    one.send("end");
    two.send("end");
    one.send("flush");
    two.send("flush");
    QCOMPARE(one.waitFor("flushed "), QByteArray("1"));
    QCOMPARE(two.waitFor("flushed "), QByteArray("1"));
    one.quit();
    two.quit();
    QCOMPARE(one.count("failed ") + two.count("failed "), 0);

    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    const QList<EntrySummary> list = a.listRecordings();
    QCOMPARE(list.size(), 2);
    for (const EntrySummary &e : list) QCOMPARE(CheckSampleRecording(a, e), n);
  }

  // A file of the previous schema is brought up to date and keeps its
  // entry (without host or user). The recorder then stamps each entry with
  // this computer and user, keeps no run that ended without a reading, and
  // marks a download that repeats the latest of its port byte for byte; the
  // records window shows all of it and refuses labels that are too long or
  // hold control characters.
  void originRepeatsAndEmptyRunsInAnOlderFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("previous.sqlite");
    QString old;
    {
      Archive a;
      QVERIFY(a.open(path));
      RecordingInfo info;
      info.startedMs = 1000;
      old = a.addRecording(info, {{1001, Group(12, 34, 1)}});
      QSqlQuery q(a.database());
      for (const char *sql :
           {"DROP INDEX downloads_by_port", "ALTER TABLE recordings DROP COLUMN host_name",
            "ALTER TABLE recordings DROP COLUMN user_name", "ALTER TABLE downloads DROP COLUMN host_name",
            "ALTER TABLE downloads DROP COLUMN user_name", "ALTER TABLE downloads DROP COLUMN block_digest",
            "ALTER TABLE downloads DROP COLUMN repeat_of", "PRAGMA user_version = 2"})
        QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }
    const QByteArray block = Block({Group(12, 34, 1), Group(0, 7, 19)});
    QString kept, first, repeat, changed, otherPort;
    {
      Recorder rec(path);
      RecordingInfo info;
      info.portName = "COM1";
      rec.beginRecording(info);
      rec.endRecording();  // no reading: not kept
      kept = rec.beginRecording(info);
      QVERIFY(rec.appendReading(Group(1, 1, 1)));
      rec.endRecording();
      DownloadInfo dl;
      dl.portName = "COM1";
      dl.device = "/dev/ttyUSB0";
      dl.groupsAnnounced = 2;
      first = rec.recordDownload(dl, block);
      repeat = rec.recordDownload(dl, block);
      changed = rec.recordDownload(dl, Block({Group(12, 34, 1), Group(0, 8, 19)}));
      dl.portName = "COM2";
      otherPort = rec.recordDownload(dl, block);
      QVERIFY(rec.flush());
    }
    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    const QList<EntrySummary> recordings = a.listRecordings();
    QCOMPARE(recordings.size(), 2);
    QCOMPARE(recordings[1].uuid, old);
    QCOMPARE(recordings[1].count, 1);
    QVERIFY(recordings[1].hostName.isEmpty() && recordings[1].userName.isEmpty());
    QCOMPARE(recordings[0].uuid, kept);
    QCOMPARE(recordings[0].hostName, QSysInfo::machineHostName());
    QVERIFY(!recordings[0].userName.isEmpty());
    QMap<QString, QString> repeats;
    for (const EntrySummary &e : a.listDownloads()) {
      repeats[e.uuid] = e.repeatOf;
      QCOMPARE(e.hostName, QSysInfo::machineHostName());
    }
    const QMap<QString, QString> expected{
        {first, QString()}, {repeat, first}, {changed, QString()}, {otherPort, QString()}};
    QCOMPARE(repeats, expected);

    // The records window's table: who, where, the repeat, and the label rules.
    RecordsModel model(a);
    QVERIFY(model.Reload(QString()));
    QCOMPARE(model.rowCount(), 6);
    int repeatRow = -1;
    for (int row = 0; row < model.rowCount(); ++row)
      if (model.Entry(row).uuid == repeat) repeatRow = row;
    auto cell = [&](int row, int column) { return model.index(row, column).data().toString(); };
    QCOMPARE(cell(repeatRow, RecordsModel::KindColumn), QStringLiteral("历史数据(重复)"));
    QCOMPARE(cell(repeatRow, RecordsModel::HostColumn), QSysInfo::machineHostName());
    QCOMPARE(cell(repeatRow, RecordsModel::ServerColumn), QStringLiteral("不上传"));
    QSignalSpy refused(&model, &RecordsModel::labelFailed);
    const QModelIndex label = model.index(repeatRow, RecordsModel::LabelColumn);
    QVERIFY(!model.setData(label, QString(201, QChar(0x76f8))));
    QVERIFY(!model.setData(label, QStringLiteral("A相\x1b]0;x\a")));
    QCOMPARE(refused.size(), 2);
    QVERIFY(refused[0][0].toString().contains(QStringLiteral("200")));
    QVERIFY(model.setData(label, QString(200, QChar(0x76f8))));
    QCOMPARE(a.findEntry(repeat)->label, QString(200, QChar(0x76f8)));
    // A label that came from elsewhere is shown escaped, never raw.
    QVERIFY(a.setLabel(EntryKind::Download, repeat, QStringLiteral("A\tB\x1b[2J")));
    QVERIFY(model.Reload(QString()));
    QCOMPARE(cell(repeatRow, RecordsModel::LabelColumn), QStringLiteral("A\\tB\\x1b[2J"));
  }

  // The bulk writer other engines fall back on binds every value: a NUL,
  // quotes, SQL and every byte of a blob arrive as they were, across the
  // statements a long copy takes.
  void bulkCopyKeepsEveryCharacter() {
    QTemporaryDir dir;
    Archive source, target;
    QVERIFY(source.open(dir.filePath("source.sqlite")));
    QVERIFY(target.open(dir.filePath("target.sqlite")));
    RecordingInfo info;
    info.startedMs = 1000;
    QList<std::pair<qint64, ReadingGroup>> readings;
    for (int i = 0; i < 250; ++i) readings.append({SampleTime(i), SampleReading(i)});
    const QString uuid = source.addRecording(info, readings);
    QSqlQuery q(source.database());
    q.prepare("UPDATE readings SET text = ?, raw = ? WHERE number IN (1, 100, 250)");
    static const char odd[] = "a\0b'); DROP TABLE readings; --\\ \"x\" 相\xF0\x9F\x98\x80";
    q.addBindValue(QString::fromUtf8(odd, sizeof odd - 1));
    q.addBindValue(QByteArray("\0'\\\xff", 4));
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    const EntrySummary e = *source.findEntry(uuid);
    QVERIFY(target.beginWrite());
    const std::optional<qint64> id = target.insertEntryCopy(e);
    QVERIFY(id);
    const std::unique_ptr<RowStream> rows = source.streamRows(e);
    QCOMPARE(target.appendRows(EntryKind::Recording, *id, *rows), 250);
    QVERIFY(target.setRecordingTotals(*id, e.count, e.endedMs) && target.commit());
    const QString dump =
        "SELECT group_concat(number || hex(text) || hex(raw) || typeof(text) || ifnull(value, 'n'), ';')"
        " FROM (SELECT * FROM readings ORDER BY number)";
    QCOMPARE(Scalar(target.database(), dump).toString(), Scalar(source.database(), dump).toString());
    QVERIFY(Scalar(target.database(), dump).toString().contains("61006227"));  // "a\0b'"
  }

  // The archive file is deleted under a running recording: the next commit
  // notices, says so once (Replaced), and writes what was not committed
  // into a new file at the path, where the recording goes on under its uuid.
  void deletedArchiveIsNoticedAndWrittenAnew() {
    QTemporaryDir dir;
    const QString path = dir.filePath("archive.sqlite");
    Recorder rec(path);
    QSignalSpy failed(&rec, &Recorder::writeFailed);
    QSignalSpy recovered(&rec, &Recorder::writeRecovered);
    RecordingInfo info;
    info.portName = "COM1";
    const QString uuid = rec.beginRecording(info);
    for (int i = 0; i < 10; ++i) rec.appendReading(SampleReading(i), SampleTime(i));
    QVERIFY(rec.flush());
    const bool removed = QFile::remove(path);
#ifdef Q_OS_WIN
    if (!removed) QSKIP("Windows keeps an archive the recorder holds open from being deleted");
#endif
    QVERIFY(removed);
    for (int i = 10; i < 15; ++i) rec.appendReading(SampleReading(i), SampleTime(i));
    rec.endRecording(SampleTime(15));
    QVERIFY2(rec.flush(), qPrintable(rec.stats().reason));
    QVERIFY(recovered.wait(2000) || recovered.size() == 1);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).value<ArchiveFailure>(), ArchiveFailure::Replaced);
    QCOMPARE(rec.stats().replacedFiles, 1);
    QCOMPARE(rec.stats().unsavedReadings, 0);

    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    const QList<EntrySummary> list = a.listRecordings();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].uuid, uuid);
    QCOMPARE(list[0].count, 5);
    QCOMPARE(list[0].endedMs, SampleTime(15));
    QStringList texts;
    QVERIFY(a.forEachRow(list[0], [&](const ArchivedRow &r) {
      texts << QString::number(r.number) + ":" + QString::number(r.utcMs);
      return true;
    }));
    QStringList want;
    for (int i = 10; i < 15; ++i) want << QString::number(i - 9) + ":" + QString::number(SampleTime(i));
    QCOMPARE(texts, want);
  }

  // The arrester register in a file of the previous schema: the file gains
  // the register and keeps its recording. An import matches arresters by
  // station, voltage level, bay, phase and serial, so a repeat updates and
  // counts what stayed; a faulty row anywhere in a batch, found before or
  // while writing, leaves the register as it was. IDs shorten to a unique
  // prefix; a removed result stays removed.
  void registerImportInAnOlderFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("previous.sqlite");
    QString recording;
    {
      Archive a;
      QVERIFY(a.open(path));
      RecordingInfo info;
      info.startedMs = 1000;
      recording = a.addRecording(info, {{1001, Group(12, 34, 1)}});
      QSqlQuery q(a.database());
      for (const char *sql :
           {"DROP TABLE results", "DROP TABLE rounds", "DROP TABLE arresters", "PRAGMA user_version = 3"})
        QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }
    Archive a;
    QVERIFY(a.open(path));
    CheckArchiveHealth(a);
    QCOMPARE(a.listRecordings().value(0).uuid, recording);
    AssetStore store(a);

    auto row = [](const char *level, const char *bay, const char *phase, std::optional<double> initial) {
      ArresterRecord r;
      r.station = QStringLiteral("城东站");
      r.voltageLevel = QString::fromUtf8(level);
      r.bay = QString::fromUtf8(bay);
      r.phase = QString::fromUtf8(phase);
      r.serialNumber = QStringLiteral("S-") + r.bay + r.phase;
      r.initialMilliAmps = initial;
      return r;
    };
    // Everything stored, to see that a refused batch changed nothing.
    auto dump = [&] {
      QStringList lines;
      const QList<ArresterRecord> stored = store.arresters().value();
      for (const ArresterRecord &r : stored)
        lines << QStringList{r.uuid,
                             r.station,
                             r.voltageLevel,
                             r.bay,
                             r.phase,
                             r.serialNumber,
                             QString::number(r.initialMilliAmps.value_or(-1)),
                             QString::number(r.modifiedMs)}
                     .join('|');
      return lines;
    };
    ImportCounts n;
    const QList<ArresterRecord> first{row("110kV", "10号间隔", "A", 0.25),
                                      row("110kV", "10号间隔", "B", 0.26),
                                      row("110kV", "2号间隔", "A", std::nullopt)};
    QVERIFY2(store.importArresters(first, &n), qPrintable(store.errorText()));
    QCOMPARE(std::tuple(n.added, n.updated, n.unchanged), std::tuple(3, 0, 0));
    const QString bUuid = store.arresters()->at(2).uuid;

    // Again, one value changed, blanks around a key field, one arrester more;
    // numbers in names sort as numbers.
    QList<ArresterRecord> second = first;
    second[1].initialMilliAmps = 0.31;
    second[2].bay = QStringLiteral(" 2号间隔 ");
    second << row("35kV", "1号间隔", "C", 0.1);
    QVERIFY2(store.importArresters(second, &n), qPrintable(store.errorText()));
    QCOMPARE(std::tuple(n.added, n.updated, n.unchanged), std::tuple(1, 1, 2));
    const QList<ArresterRecord> all = *store.arresters();
    QStringList order;
    for (const ArresterRecord &r : all) order << r.voltageLevel + r.bay + r.phase;
    QCOMPARE(order, QStringList({"35kV1号间隔C", "110kV2号间隔A", "110kV10号间隔A", "110kV10号间隔B"}));
    QCOMPARE(all[3].uuid, bUuid);
    QCOMPARE(all[3].initialMilliAmps, 0.31);

    // Refused batches: each has good rows before the faulty one.
    const QStringList before = dump();
    ArresterRecord noBay = row("110kV", "", "C", 1);
    ArresterRecord takenUuid = row("220kV", "1号间隔", "A", 1);
    takenUuid.uuid = all[0].uuid;  // another arrester's: refused by the database
    const struct {
      QList<ArresterRecord> rows;
      QString says;
    } refused[] = {
        {{second[1], row("110kV", "3号间隔", "A", 2), noBay}, "row 3: an arrester needs a bay"},
        {{row("110kV", "3号间隔", "A", 2), second[0], row("110kV", "3号间隔", "A", 3)},
         "rows 1 and 3 are both"},
        {{row("110kV", "3号间隔", "A", 2), row("110kV", "10号间隔", "A", 9), takenUuid}, "row 3: storing"},
    };
    for (const auto &c : refused) {
      QVERIFY(!store.importArresters(c.rows, &n));
      QVERIFY2(store.errorText().startsWith(c.says), qPrintable(store.errorText()));
      QCOMPARE(dump(), before);
    }
    ArresterRecord twin = all[2];
    twin.uuid.clear();
    QVERIFY(!store.saveArrester(twin));  // the same identity again
    QVERIFY2(store.errorText().contains("in the register already"), qPrintable(store.errorText()));

    // Prefixes: unique, ambiguous, none.
    ArresterRecord x = row("10kV", "9", "A", 1), y = row("10kV", "9", "B", 1);
    x.uuid = "abcd0000-0000-4000-8000-000000000001";
    y.uuid = "abcd0000-0000-4000-8000-000000000002";
    QVERIFY(store.saveArrester(x) && store.saveArrester(y));
    QCOMPARE(store.findArrester(bUuid.left(8).toUpper())->uuid, bUuid);
    QVERIFY(!store.findArrester("abcd"));
    QVERIFY(store.errorText().contains("ambiguous"));
    QCOMPARE(store.findArrester("abcd0000-0000-4000-8000-000000000002")->phase, QString("B"));
    QVERIFY(!store.findArrester("ffff"));

    // A round and its results; a result of another station is refused.
    RoundRecord round;
    round.station = QStringLiteral("城东站");
    round.date = QDate(2024, 5, 1);
    QVERIFY(store.saveRound(round));
    QCOMPARE(round.hostName, QSysInfo::machineHostName());
    QCOMPARE(store.findRound(round.uuid.left(6))->date, QDate(2024, 5, 1));
    ResultRecord result;
    result.roundUuid = round.uuid;
    result.arresterUuid = bUuid;
    result.milliAmps = 0.4;
    QVERIFY2(store.saveResult(result), qPrintable(store.errorText()));
    result.reading = ResultReading::Overload;  // its value is dropped
    QVERIFY(store.saveResult(result));
    QCOMPARE(store.results(round.uuid)->value(0).reading, ResultReading::Overload);
    QVERIFY(!store.results(round.uuid)->value(0).milliAmps);
    ArresterRecord elsewhere = row("110kV", "1", "A", 1);
    elsewhere.station = QStringLiteral("城西站");
    QVERIFY(store.saveArrester(elsewhere));
    ResultRecord wrong = result;
    wrong.arresterUuid = elsewhere.uuid;
    QVERIFY(!store.saveResult(wrong));
    QVERIFY(store.removeResult(round.uuid, bUuid));
    QVERIFY(store.results(round.uuid)->isEmpty() && store.allResults()->isEmpty());
    QVERIFY(!store.removeResult(round.uuid, bUuid));
  }

  void csvBytes_data() {
    QTest::addColumn<bool>("generic");
    QTest::newRow("engine") << false;
    QTest::newRow("generic Qt SQL") << true;
  }

  // The exact bytes of a small archive: quoting, BOM, offset, decimal point
  // under a comma locale, and the same text in GBK; written and read both
  // through the engine directly and through the generic path.
  void csvBytes() {
    QFETCH(bool, generic);
    QTemporaryDir dir;
    Archive a(generic ? std::make_unique<GenericPathDialect>() : MakeSqliteDialect());
    QVERIFY(a.open(dir.filePath("archive.sqlite")));
    RecordingInfo info;
    info.uuid = "11111111-2222-3333-4444-555555555555";
    info.startedMs = 1714566896789;
    info.label = "A相, \"3号\"";
    QVERIFY(!a.addRecording(info, {{1714566896789, Group(12, 34, 1)},
                                   {1714566897289, Group(0, 7, 19)},
                                   {1714566897789, Group(0, 0, 9)},
                                   {1714566898289, Group(1, 2, 0)}})
                 .isEmpty());
    DownloadInfo dl;
    dl.uuid = "99999999-8888-7777-6666-555555555555";
    dl.utcMs = 1714579200000;  // 2024-05-02 00:00 at +08:00
    dl.groupsAnnounced = 2;
    QVERIFY(!a.addDownload(dl, Block({Group(2, 50, 12), Group(1, 5, 10)})).isEmpty());

    const QByteArray expected =
        "local_time,local_datetime,utc_ms,source,id,label,number,kind,value,unit,value_ma,text,raw\r\n"
        "2024-05-01T20:34:56.789+08:00,2024-05-01 20:34:56,1714566896789,recording,"
        "11111111-2222-3333-4444-555555555555,\"A相, \"\"3号\"\"\",1,AC,12.34,mA,12.34,12.34mA,0C 22 01\r\n"
        "2024-05-01T20:34:57.289+08:00,2024-05-01 20:34:57,1714566897289,recording,"
        "11111111-2222-3333-4444-555555555555,\"A相, \"\"3号\"\"\",2,DC,-0.7,A,-700,'-0.7A,00 07 13\r\n"
        "2024-05-01T20:34:57.789+08:00,2024-05-01 20:34:57,1714566897789,recording,"
        "11111111-2222-3333-4444-555555555555,\"A相, \"\"3号\"\"\",3,overload,,,,0L,00 00 09\r\n"
        "2024-05-01T20:34:58.289+08:00,2024-05-01 20:34:58,1714566898289,recording,"
        "11111111-2222-3333-4444-555555555555,\"A相, \"\"3号\"\"\",4,invalid,,,,ERROR,01 02 00\r\n"
        "2024-05-02T00:00:00.000+08:00,2024-05-02 00:00:00,1714579200000,download,"
        "99999999-8888-7777-6666-555555555555,,1,AC,250,A,250000,AC 250 A,02 32 0C\r\n"
        "2024-05-02T00:00:00.000+08:00,2024-05-02 00:00:00,1714579200000,download,"
        "99999999-8888-7777-6666-555555555555,,2,AC,0.105,mA,0.105,AC 0.105mA,01 05 0A\r\n";

    QBuffer utf8;
    utf8.open(QIODevice::WriteOnly);
    qint64 lastDone = -1, lastTotal = -1;
    const CsvExportResult r = ExportCsv(a, utf8, {}, [&](qint64 done, qint64 total) {
      lastDone = done;
      lastTotal = total;
      return true;
    });
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.rows, 6);
    QCOMPARE(lastDone, 6);
    QCOMPARE(lastTotal, 6);
    QCOMPARE(utf8.data(), "\xEF\xBB\xBF" + expected);

    QBuffer gbk;
    gbk.open(QIODevice::WriteOnly);
    CsvExportOptions gbkOptions;
    gbkOptions.encoding = CsvEncoding::Gbk;
    QVERIFY(ExportCsv(a, gbk, gbkOptions).ok);
    QByteArray expectedGbk = expected;
    expectedGbk.replace("A\xE7\x9B\xB8", "A\xCF\xE0").replace("3\xE5\x8F\xB7", "3\xBA\xC5");
    QCOMPARE(gbk.data(), expectedGbk);

    // A cancelled export leaves no file behind.
    const QString file = dir.filePath("out.csv");
    QVERIFY(!ExportCsvFile(a, file, {}, [](qint64, qint64) { return false; }).ok);
    QVERIFY(!QFile::exists(file));

    // A full disk (a cap on file size stands in for it) fails the export, also
    // when the whole file is still in the write buffer, and keeps the earlier file.
    QFile earlier(file);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
    earlier.close();
    if (!FileSizeCap::kAvailable) return;  // Windows caps no file sizes
    std::optional<FileSizeCap> cap(512);
    const CsvExportResult full = ExportCsvFile(a, file, {});
    cap.reset();
    QVERIFY(!full.ok);
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("out.csv*")}, QDir::Files),
             QStringList{QStringLiteral("out.csv")});
  }
};

QTEST_GUILESS_MAIN(ArchiveTest)
#include "test_archive.moc"
