// The window records what it shows: every live reading of a run, every
// handled history block, into the archive, and exports them as CSV from the
// records window. Against the meter simulator over a pseudo-terminal; the
// crash case kills the real program; the failure cases make the archive
// unwritable under a running window.
#include <QAbstractItemView>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QSet>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/controls.h"
#include "app/form2.h"
#include "archive/archive.h"
#include "archive/csv_export.h"
#include "archive/recorder.h"
#include "protocol/reading.h"
#include "records/records_model.h"
#include "records/records_window.h"
#include "serial/comm_control.h"
#include "support/event_wait.h"
#include "support/modal_answer.h"
#include "support/sim_process.h"

using testsupport::MeterSim;
using testsupport::waitUntil;

namespace {

const QString kFailurePrefix = QStringLiteral("测量记录保存失败,");

// Every live reading the window showed, in order: Label7 right after each
// handled live reply.
struct ShownReadings {
  QStringList captions;
  explicit ShownReadings(Form2 &w) {
    // Connected after the window's own handler, so it runs after the decode.
    QObject::connect(w.MSComm1, &CommControl::OnComm, w.MSComm1, [this, &w] {
      if (!w.CommandBuffer.isEmpty() && w.CommandBuffer.at(0) == 35 && w.ReceiveBuffer.size() >= 3)
        captions << w.Label7->text();
    });
  }
};

// Stops the requests and waits until every request written has been
// answered and shown, so nothing is on its way any more.
bool Drain(Form2 &w, MeterSim &sim, const ShownReadings &shown) {
  w.Command2_Click();
  return waitUntil([&] { return shown.captions.size() == sim.countReceived(35); }, 5000);
}

QStringList RowTexts(Archive &a, const EntrySummary &e) {
  QStringList texts;
  a.forEachRow(e, [&](const ArchivedRow &r) {
    texts << r.text;
    return true;
  });
  return texts;
}

QString Pragma(Archive &a, const char *pragma) {
  QSqlQuery q(a.database());
  return q.exec(QString::fromLatin1(pragma)) && q.next() ? q.value(0).toString() : QString();
}

// CSV rows (after the header) as fields; the files written here hold no
// quoted commas.
QList<QStringList> CsvRows(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString text = QString::fromUtf8(f.readAll());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  QList<QStringList> rows;
  for (int i = 1; i < lines.size(); ++i) rows << lines[i].split(QLatin1Char(','));
  return rows;
}
constexpr int kCsvId = 4, kCsvLabel = 5, kCsvText = 11;

int CountMessages(const StatusLine &line, const QString &prefix) {
  int n = 0;
  for (int i = 0; i < line.History().size(); ++i)
    if (line.History().at(i).text.startsWith(prefix)) ++n;
  return n;
}

// A window recording into a new archive.
struct RecordingWindow {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
  Recorder rec{path};
  Form2 w;
  RecordingWindow() { w.AttachArchive(path, &rec); }

  // Starts the window against `sim`, lets it poll, then switches to the
  // history query and waits for the greeting to be answered. Polling pauses
  // first, so no late live reply comes in the greeting's place.
  bool polledThenHistoryMode(MeterSim &sim) {
    if (!sim.waitReady()) return false;
    w.Form_Load();
    if (!sim.waitForReceived(35, 2, 10000)) return false;
    w.Command2_Click();
    QTest::qWait(300);
    w.Option2->click();
    return waitUntil([&] { return w.Label6->text() == QStringLiteral("握手成功"); }, 5000);
  }
};

// Answers the next modal file dialog with `path`.
void AnswerFileDialog(const QString &path) {
  QTimer::singleShot(0, [path] {
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog) return AnswerFileDialog(path);
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
  });
}

// The recorder's writer thread sees the files as an ordinary user would: as
// root every file is writable, whatever its permissions. A new thread takes
// the creating thread's file-system identity.
std::unique_ptr<Recorder> RecorderWithoutRootAccess(const QString &path) {
  if (geteuid() != 0) return std::make_unique<Recorder>(path);
  setfsgid(65534);
  setfsuid(65534);
  auto recorder = std::make_unique<Recorder>(path);
  setfsuid(0);
  setfsgid(0);
  return recorder;
}

}  // namespace

class TestRecorder : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }
  void init() { testsupport::makeTemporaryPortsDir(); }

  void runsRecordedAndExportedFromRecordsWindow_data();
  void runsRecordedAndExportedFromRecordsWindow();
  void downloadRecorded_data();
  void downloadRecorded();
  void blockStillArrivingIsNoLiveReading();
  void killedProgramKeepsCommittedReadings();
  void unwritableArchiveKeepsMonitoring_data();
  void unwritableArchiveKeepsMonitoring();
  void twoWindowsRecordIntoOneArchive();
  void failingArchiveStaysVisibleAndClosingAsks();
  void recordsWindowNeverWaitsForAnotherProgram();
};

void TestRecorder::runsRecordedAndExportedFromRecordsWindow_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::newRow("changing mA readings") << QStringList{"--code", "1", "--waveform", "sine", "--period", "5"};
  QTest::newRow("overload") << QStringList{"--code", "9"};
}

// Two runs (Start .. Stop, then Start .. exit) make two recordings holding
// exactly what Label7 showed; the records window lists them newest first,
// takes a label, and exports both to CSV.
void TestRecorder::runsRecordedAndExportedFromRecordsWindow() {
  QFETCH(QStringList, simArgs);
  MeterSim sim(simArgs);
  QVERIFY(sim.waitReady());
  QTemporaryDir dir;
  const QString path = dir.filePath("archive.sqlite");
  Recorder rec(path);
  QStringList run1, run2;
  {
    Form2 w;
    w.AttachArchive(path, &rec);
    ShownReadings shown(w);
    w.Form_Load();
    QVERIFY(waitUntil([&] { return shown.captions.size() >= 5; }, 10000));
    QVERIFY(Drain(w, sim, shown));
    w.Command3_Click();
    run1 = shown.captions;

    w.Command1_Click();
    QVERIFY(waitUntil([&] { return shown.captions.size() >= run1.size() + 3; }, 10000));
    QVERIFY(Drain(w, sim, shown));
    run2 = shown.captions.mid(run1.size());
    QVERIFY(rec.flush());

    w.mnurecords->trigger();
    RecordsWindow *records = w.RecordsWindow1;
    QVERIFY(records && records->isVisible());
    QAbstractItemModel *model = records->RecordsTable->model();
    QCOMPARE(model->rowCount(), 2);
    auto cell = [&](int row, int column) { return model->index(row, column).data().toString(); };
    QCOMPARE(cell(0, RecordsModel::CountColumn), QString::number(run2.size()));
    QCOMPARE(cell(0, RecordsModel::CompleteColumn), QStringLiteral("记录中"));
    QCOMPARE(cell(1, RecordsModel::CountColumn), QString::number(run1.size()));
    QCOMPARE(cell(1, RecordsModel::CompleteColumn), QStringLiteral("是"));
    QCOMPARE(cell(1, RecordsModel::PortColumn), QStringLiteral("COM1"));
    QCOMPARE(cell(1, RecordsModel::FirstColumn), run1.first());
    QCOMPARE(cell(1, RecordsModel::LastColumn), run1.last());
    QVERIFY(model->setData(model->index(1, RecordsModel::LabelColumn), QStringLiteral("A相 3号")));

    QVERIFY(!records->ExportButton->isEnabled());
    records->RecordsTable->selectAll();
    QVERIFY(records->ExportButton->isEnabled());
    const QString csv = dir.filePath("export.csv");
    AnswerFileDialog(csv);
    records->ExportButton->click();
    const QList<QStringList> rows = CsvRows(csv);
    QCOMPARE(rows.size(), run1.size() + run2.size());
    QStringList texts1, texts2;
    for (const QStringList &r : rows) {
      QCOMPARE(r.size(), 13);
      (r[kCsvId] == rows.first()[kCsvId] ? texts1 : texts2) << r[kCsvText];
      if (r[kCsvId] == rows.first()[kCsvId]) QCOMPARE(r[kCsvLabel], QStringLiteral("A相 3号"));
    }
    QCOMPARE(texts1, run1);  // oldest first in the file
    QCOMPARE(texts2, run2);
    QVERIFY(w.close());  // exit ends the second recording
  }
  QVERIFY(rec.flush());
  Archive a;
  QVERIFY(a.open(path));
  const QList<EntrySummary> list = a.listRecordings();
  QCOMPARE(list.size(), 2);
  for (const EntrySummary &e : list) {
    QVERIFY(e.endedMs.has_value());
    QVERIFY(*e.endedMs >= e.startedMs);
    QCOMPARE(e.portName, QStringLiteral("COM1"));
    QCOMPARE(e.device, sim.devicePath());
    QVERIFY(e.lineSettings.startsWith(QStringLiteral("9600,")));
    QVERIFY(!e.programVersion.isEmpty());
  }
  QCOMPARE(RowTexts(a, list[0]), run2);
  QCOMPARE(RowTexts(a, list[1]), run1);
}

void TestRecorder::downloadRecorded_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<int>("announced");  // as the download stores it; -1 unknown
  QTest::addColumn<int>("received");   // groups in the download; -1 no download
  QTest::addColumn<int>("tableRows");  // groups in the data table; -1 table kept
  QTest::addColumn<QString>("told");
  const QString normal = QStringLiteral("返回历史数据正常");
  QTest::newRow("255 groups") << QStringList{"--groups", "255"} << 255 << 255 << 255 << normal;
  QTest::newRow("short history") << QStringList{"--groups", "41", "--short-history"} << 41 << 20 << 20
                                 << QStringLiteral("返回历史数据不完整");
  // Slower than the line (2400 baud against 9600) and pausing halfway: read
  // whole however long it takes, as one table and one download.
  QTest::newRow("slow meter pausing mid-block")
      << QStringList{"--groups", "255", "--pace", "--baud", "2400", "--block-pause-ms", "700"} << 255 << 255
      << 255 << normal;
  QTest::newRow("extra groups ignored")
      << QStringList{"--groups", "5", "--history-groups", "7"} << 5 << 5 << 5 << normal;
  QTest::newRow("no groups announced, one sent")
      << QStringList{"--groups", "0", "--history-groups", "1"} << 0 << 0 << 0 << normal;
  QTest::newRow("count announced, nothing sent") << QStringList{"--groups", "5", "--history-groups", "0"} << 0
                                                 << -1 << -1 << QStringLiteral("返回历史数据失败");
  // The table is decoded with the count kept from before (1, from the live
  // replies): the download keeps every group the meter sent, count unknown.
  QTest::newRow("bad count reply") << QStringList{"--groups", "10", "--bad-count"} << -1 << 10 << 1
                                   << QStringLiteral("返回历史数据与组数不符");
}

// A history read in the window becomes at most one download whose rows read
// as the data table does; the switch to the history query ended the running
// recording.
void TestRecorder::downloadRecorded() {
  QFETCH(QStringList, simArgs);
  QFETCH(int, announced);
  QFETCH(int, received);
  QFETCH(int, tableRows);
  QFETCH(QString, told);
  MeterSim sim(simArgs);
  RecordingWindow r;
  Form2 &w = r.w;
  const QString &path = r.path;
  QVERIFY(r.polledThenHistoryMode(sim));
  const QString before = w.RichTextBox1->Text();
  w.Command4_Click();
  QVERIFY(waitUntil([&] { return w.Label6->text() == told; }, 10000));
  QTest::qWait(1200);  // whatever the meter still sends is no second download
  QCOMPARE(w.Label6->text(), told);
  QVERIFY(r.rec.flush());

  QStringList lines = w.RichTextBox1->Text().split(QStringLiteral("\r\n")).mid(3);
  if (tableRows < 0) QCOMPARE(w.RichTextBox1->Text(), before);
  // A short block is shown with a closing note on the missing groups.
  if (told == QStringLiteral("返回历史数据不完整"))
    QVERIFY(lines.takeLast().contains(QStringLiteral("数据不完整")));
  QStringList tableTexts;
  for (const QString &line : lines) tableTexts << line.mid(30 + 3 + 22);
  if (tableRows >= 0) QCOMPARE(tableTexts.size(), tableRows);

  Archive a;
  QVERIFY(a.open(path));
  const QList<EntrySummary> downloads = a.listDownloads();
  QCOMPARE(downloads.size(), received < 0 ? 0 : 1);
  if (received >= 0) {
    const EntrySummary &d = downloads[0];
    QCOMPARE(d.groupsAnnounced, announced);
    QCOMPARE(d.count, qint64(received));
    QCOMPARE(d.complete, announced == received);
    QCOMPARE(d.device, sim.devicePath());
    const QString csv = r.dir.filePath("download.csv");
    CsvExportOptions options;
    options.entries = {d};
    QVERIFY(ExportCsvFile(a, csv, options).ok);
    QStringList csvTexts;
    for (const QStringList &r : CsvRows(csv)) csvTexts << r[kCsvText];
    QCOMPARE(csvTexts.mid(0, tableTexts.size()), tableTexts);
  }

  const QList<EntrySummary> recordings = a.listRecordings();
  QCOMPARE(recordings.size(), 1);
  QVERIFY(recordings[0].endedMs.has_value());
  QVERIFY(recordings[0].count >= 1);
}

// Back to live monitoring 0.3 s into a history block still on the wire: no
// live request goes out until the line is quiet, and nothing of the block is
// shown, counted in the statistics or recorded as a live reading.
void TestRecorder::blockStillArrivingIsNoLiveReading() {
  MeterSim sim({"--groups", "255", "--pace"});
  RecordingWindow r;
  Form2 &w = r.w;
  ShownReadings shown(w);
  QVERIFY(r.polledThenHistoryMode(sim));
  const int answers = sim.sent().size();
  w.Command4_Click();
  qint64 blockSentMs = -1;
  QVERIFY(waitUntil(
      [&] {
        const QList<testsupport::SentReply> sent = sim.sent();
        for (int i = answers; i < sent.size(); ++i)
          if (sent[i].bytes.size() == 765) blockSentMs = sent[i].ms;
        return blockSentMs >= 0;
      },
      5000));
  QTest::qWait(300);
  const int requestsBefore = sim.countReceived(35);
  w.Option1->click();
  w.Command1_Click();
  QVERIFY(sim.waitForReceived(35, requestsBefore + 4, 10000));
  // The live request outstanding when history mode was chosen was never
  // answered in time, so the shown replies do not add up to the requests.
  w.Command2_Click();
  QTest::qWait(500);

  // The first live request left after the block's 765 bytes had crossed the line.
  const QList<testsupport::ReceivedByte> received = sim.received();
  qint64 firstRequestMs = -1;
  for (const testsupport::ReceivedByte &r : received)
    if (r.byte == 35 && r.ms > blockSentMs && firstRequestMs < 0) firstRequestMs = r.ms;
  QVERIFY2(firstRequestMs >= blockSentMs + 765 * 10 * 1000 / 9600,
           qPrintable(QStringLiteral("%1 ms after the block began").arg(firstRequestMs - blockSentMs)));
  QVERIFY(!shown.captions.isEmpty());
  QCOMPARE(QSet<QString>(shown.captions.begin(), shown.captions.end()),
           QSet<QString>{QStringLiteral("12.34mA")});
  w.Timer6_Timer();
  QCOMPARE((QStringList{w.Text2->text(), w.Text3->text(), w.Text4->text()}),
           (QStringList{"12.34", "12.34", "12.34"}));
  QVERIFY(!w.Timer7->Enabled());

  QVERIFY(r.rec.flush());
  Archive a;
  QVERIFY(a.open(r.path));
  QSet<QString> recorded;
  for (const EntrySummary &e : a.listRecordings())
    for (const QString &text : RowTexts(a, e)) recorded << text;
  QCOMPARE(recorded, QSet<QString>{QStringLiteral("12.34mA")});
  QCOMPARE(a.listDownloads().size(), 0);
}

// SIGKILL in the middle of a run of the real program: the archive is sound
// and holds, in order, every reading committed before the kill, losing no
// more than the last moments.
void TestRecorder::killedProgramKeepsCommittedReadings() {
  MeterSim sim({"--waveform", "ramp", "--period", "50"});
  QVERIFY(sim.waitReady());
  QTemporaryDir dir;
  const QString path = dir.filePath("archive.sqlite");
  QProcess monitor;
  monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  monitor.start(QStringLiteral(MONITOR_PATH), {"--archive", path});
  QVERIFY(monitor.waitForStarted());
  QVERIFY(sim.waitForReceived(35, 1, 10000));

  Archive watcher;
  QVERIFY(watcher.open(path));
  qint64 committed = 0;
  QVERIFY(waitUntil(
      [&] {
        committed = watcher.listRecordings().value(0).count;
        return committed >= 6;
      },
      20000));
  ::kill(static_cast<pid_t>(monitor.processId()), SIGKILL);
  QVERIFY(monitor.waitForFinished());
  watcher.close();
  const int answered = sim.countReceived(35);

  Archive a;
  QVERIFY(a.open(path));
  QCOMPARE(Pragma(a, "PRAGMA integrity_check"), QStringLiteral("ok"));
  const QList<EntrySummary> list = a.listRecordings();
  QCOMPARE(list.size(), 1);
  const EntrySummary &e = list[0];
  QVERIFY(e.count >= committed);
  QVERIFY(!e.endedMs);
  QVERIFY2(answered - e.count <= 6,
           qPrintable(QStringLiteral("%1 requests, %2 kept").arg(answered).arg(e.count)));
  // The rows are the simulator's live answers, in order, numbered without gaps.
  QList<QByteArray> answers;
  for (const testsupport::SentReply &r : sim.sent())
    if (r.bytes != QByteArray("\xD5\x55\x55", 3)) answers << r.bytes;
  int n = 0;
  QVERIFY(a.forEachRow(e, [&](const ArchivedRow &r) {
    ++n;
    return r.number == n && n <= answers.size() && r.raw == answers[n - 1];
  }));
  QCOMPARE(qint64(n), e.count);
}

void TestRecorder::unwritableArchiveKeepsMonitoring_data() {
  QTest::addColumn<QString>("cause");
  QTest::newRow("read-only folder") << "read-only";
  QTest::newRow("file size limit") << "size limit";
}

// While the archive cannot be written the window goes on showing readings,
// says so once in the status line, and keeps the readings; once the cause is
// gone they are all written.
void TestRecorder::unwritableArchiveKeepsMonitoring() {
  QFETCH(QString, cause);
  MeterSim sim;
  QVERIFY(sim.waitReady());
  QTemporaryDir dir;
  QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
  const QString path = dir.filePath("archive.sqlite");
  {
    Archive created;
    QVERIFY(created.open(path));
  }
  const QByteArray folderName = QFile::encodeName(dir.path());
  const QByteArray fileName = QFile::encodeName(path);
  rlimit unlimited{};
  QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
  // The limit binds the whole test process: lifted again whatever happens.
  const std::unique_ptr<void, std::function<void(void *)>> liftLimit(
      &unlimited, [](void *limit) { ::setrlimit(RLIMIT_FSIZE, static_cast<rlimit *>(limit)); });
  std::unique_ptr<Recorder> rec;
  if (cause == "read-only") {
    QVERIFY(::chmod(fileName.constData(), 0444) == 0);
    QVERIFY(::chmod(folderName.constData(), 0555) == 0);
    rec = RecorderWithoutRootAccess(path);
  } else {
    rec = std::make_unique<Recorder>(path);
  }
  Form2 w;
  w.AttachArchive(path, rec.get());
  ShownReadings shown(w);
  w.Form_Load();
  if (cause == "size limit") {
    QVERIFY(waitUntil([&] { return rec->stats().committedReadings > 0; }, 10000));
    rlimit tiny = unlimited;
    tiny.rlim_cur = 4096;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &tiny) == 0);
  }
  QVERIFY(waitUntil([&] { return CountMessages(*w.Label6, kFailurePrefix) == 1; }, 10000));
  const int shownAtFailure = shown.captions.size();
  QVERIFY(waitUntil(
      [&] { return rec->stats().failedAttempts >= 3 && shown.captions.size() >= shownAtFailure + 4; },
      15000));
  QCOMPARE(CountMessages(*w.Label6, kFailurePrefix), 1);

  if (cause == "read-only") {
    QVERIFY(::chmod(folderName.constData(), 0777) == 0);
    QVERIFY(::chmod(fileName.constData(), 0666) == 0);
  } else {
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
  }
  QVERIFY(
      waitUntil([&] { return CountMessages(*w.Label6, QStringLiteral("测量记录恢复保存")) == 1; }, 10000));
  QVERIFY(Drain(w, sim, shown));
  w.Command3_Click();
  QVERIFY(rec->flush());
  QCOMPARE(rec->stats().droppedReadings, 0);
  QCOMPARE(CountMessages(*w.Label6, kFailurePrefix), 1);

  Archive a;
  QVERIFY(a.open(path));
  QCOMPARE(Pragma(a, "PRAGMA integrity_check"), QStringLiteral("ok"));
  const QList<EntrySummary> list = a.listRecordings();
  QCOMPARE(list.size(), 1);
  QCOMPARE(RowTexts(a, list[0]), shown.captions);
}

// Two windows, two meters, one archive: both record whole runs, and a third
// program holding the archive's write lock for a while stops neither display.
void TestRecorder::twoWindowsRecordIntoOneArchive() {
  QTemporaryDir ports1, ports2, dir;
  const QString path = dir.filePath("archive.sqlite");
  qputenv("ARRESTER_PORTS_DIR", ports1.path().toLocal8Bit());
  MeterSim sim1({"--waveform", "sine"});
  QVERIFY(sim1.waitReady());
  Recorder rec1(path);
  Form2 w1;
  w1.AttachArchive(path, &rec1);
  ShownReadings shown1(w1);
  w1.Form_Load();
  QVERIFY(w1.MSComm1->PortOpen());

  qputenv("ARRESTER_PORTS_DIR", ports2.path().toLocal8Bit());
  MeterSim sim2({"--waveform", "ramp", "--code", "3"});
  QVERIFY(sim2.waitReady());
  Recorder rec2(path);
  Form2 w2;
  w2.AttachArchive(path, &rec2);
  ShownReadings shown2(w2);
  w2.Form_Load();
  QVERIFY(w2.MSComm1->PortOpen());

  QVERIFY(waitUntil([&] { return shown1.captions.size() >= 3 && shown2.captions.size() >= 3; }, 10000));
  {
    Archive holder;
    QVERIFY(holder.open(path));
    QVERIFY(holder.beginWrite());
    const int before1 = shown1.captions.size(), before2 = shown2.captions.size();
    QVERIFY(waitUntil(
        [&] { return shown1.captions.size() >= before1 + 3 && shown2.captions.size() >= before2 + 3; },
        4000));
    holder.rollback();
  }
  QVERIFY(Drain(w1, sim1, shown1));
  QVERIFY(Drain(w2, sim2, shown2));
  w1.Command3_Click();
  w2.Command3_Click();
  QVERIFY(rec1.flush());
  QVERIFY(rec2.flush());
  QCOMPARE(CountMessages(*w1.Label6, kFailurePrefix) + CountMessages(*w2.Label6, kFailurePrefix), 0);

  Archive a;
  QVERIFY(a.open(path));
  const QList<EntrySummary> list = a.listRecordings();
  QCOMPARE(list.size(), 2);
  for (const EntrySummary &e : list) {
    const bool first = e.device == sim1.devicePath();
    QVERIFY(first || e.device == sim2.devicePath());
    QCOMPARE(RowTexts(a, e), first ? shown1.captions : shown2.captions);
  }
}

// The archive cannot be written from the start: a red marker at the right
// end of the menu bar says why and how many readings wait, and stays while
// the status line goes on with other news. Closing asks first; "wait" keeps
// the window, "save as CSV" writes every waiting reading to the file chosen.
// A file from a newer program is named as such.
void TestRecorder::failingArchiveStaysVisibleAndClosingAsks() {
  MeterSim sim;
  QVERIFY(sim.waitReady());
  QTemporaryDir dir;
  QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
  const QString folder = dir.filePath("archive");
  const QString path = folder + "/archive.sqlite";
  {
    Archive created;
    QVERIFY(created.open(path));
  }
  QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
  QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
  const std::unique_ptr<Recorder> rec = RecorderWithoutRootAccess(path);
  Form2 w;
  w.AttachArchive(path, rec.get());
  ShownReadings shown(w);
  w.Form_Load();
  QVERIFY(waitUntil([&] { return w.ArchiveMarker && !w.ArchiveMarker->isHidden(); }, 10000));
  QVERIFY2(w.ArchiveMarker->text().startsWith(QStringLiteral("测量记录保存失败:")),
           qPrintable(w.ArchiveMarker->text()));
  QCOMPARE(w.menuBar()->cornerWidget(Qt::TopRightCorner), w.ArchiveMarker);
  QVERIFY(waitUntil(
      [&] { return shown.captions.size() >= 4 && !w.Label6->text().startsWith(kFailurePrefix); }, 10000));
  QVERIFY(!w.ArchiveMarker->isHidden());
  QVERIFY(Drain(w, sim, shown));
  const qint64 unsaved = rec->stats().unsavedReadings;
  QCOMPARE(unsaved, qint64(shown.captions.size()));
  QVERIFY(waitUntil(
      [&] { return w.ArchiveMarker->text().contains(QStringLiteral("%1条未保存").arg(unsaved)); }, 3000));

  auto answer = [&](const char *button) {
    return testsupport::answerModal<QMessageBox>([button, unsaved](QMessageBox *box) {
      if (box->text().contains(QStringLiteral("有 %1 条测量记录尚未保存").arg(unsaved)))
        box->findChild<QPushButton *>(QString::fromLatin1(button))->click();
    });
  };
  std::shared_ptr<bool> asked = answer("WaitButton");
  QVERIFY(!w.close());
  QVERIFY(*asked);
  const QString csv = dir.filePath("unsaved.csv");
  asked = answer("SaveUnsavedButton");
  AnswerFileDialog(csv);
  QVERIFY(w.close());
  QVERIFY(*asked);
  QFile f(csv);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QStringList lines = QString::fromUtf8(f.readAll()).remove(QChar(0xFEFF)).split("\r\n", Qt::SkipEmptyParts);
  const int textColumn = int(lines.takeFirst().split(',').indexOf("text"));
  QVERIFY(textColumn >= 0);
  QStringList texts;
  for (const QString &line : lines) texts << line.split(',').value(textColumn);
  QCOMPARE(texts, shown.captions);

  const QString newer = dir.filePath("newer.sqlite");
  {
    Archive a;
    QVERIFY(a.open(newer));
    QSqlQuery(a.database()).exec(QStringLiteral("PRAGMA user_version = %1").arg(Archive::kSchemaVersion + 1));
  }
  Recorder newerRec(newer);
  Form2 w2;
  w2.AttachArchive(newer, &newerRec);
  QVERIFY(waitUntil(
      [&] {
        return w2.ArchiveMarker && w2.ArchiveMarker->text().contains(QStringLiteral("由较新版本的程序创建"));
      },
      5000));
}

// Another program holds the archive's write lock: a label edited in the
// records window keeps it waiting a moment at most, is stored by itself once
// the lock is gone, and the status line says what happens meanwhile.
void TestRecorder::recordsWindowNeverWaitsForAnotherProgram() {
  QTemporaryDir dir;
  const QString path = dir.filePath("archive.sqlite");
  QString uuid;
  {
    Archive a;
    QVERIFY(a.open(path));
    RecordingInfo info;
    info.portName = "COM1";
    uuid = a.addRecording(info, {{1000, ReadingGroup::At(QByteArray("\x04\xd5\x01", 3), 0)}});
    QVERIFY(!uuid.isEmpty());
  }
  RecordsWindow records(path, nullptr);
  records.Refresh();
  QAbstractItemModel *model = records.RecordsTable->model();
  QCOMPARE(model->rowCount(), 1);
  Archive holder;
  QVERIFY(holder.open(path));
  QVERIFY(holder.beginWrite());
  QElapsedTimer clock;
  clock.start();
  QVERIFY(!model->setData(model->index(0, RecordsModel::LabelColumn), QStringLiteral("B相")));
  QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
  QVERIFY(records.RecordsStatus->text().contains(QStringLiteral("占用")));
  QTest::qWait(1200);  // a few tries while the lock is still held
  holder.rollback();
  QVERIFY(waitUntil([&] { return records.RecordsStatus->text() == QStringLiteral("标签已保存"); }, 3000));
  QCOMPARE(model->index(0, RecordsModel::LabelColumn).data().toString(), QStringLiteral("B相"));
  Archive check;
  QVERIFY(check.open(path));
  QCOMPARE(check.findEntry(uuid)->label, QStringLiteral("B相"));
}

QTEST_MAIN(TestRecorder)
#include "test_recorder.moc"
