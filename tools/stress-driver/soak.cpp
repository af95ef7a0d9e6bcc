// soak: the window polls the meter for a long stretch at one line speed,
// recording every reading into an archive as the program does by default.
// Every request must come back as a recorded reading, the memory must stay
// flat and the CPU share small.
#include <QCommandLineParser>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "app/form2.h"
#include "archive/archive.h"
#include "archive/recorder.h"
#include "serial/comm_control.h"
#include "sim_session.h"
#include "stress_driver.h"
#include "support/sim_process.h"

namespace stress {

namespace {

constexpr int kSampleEveryMs = 10000;
constexpr double kWarmUpMinutes = 1;
// One reading lost in a thousand would already be a fault the user sees as
// gaps; on an idle line with 500 ms between requests none should be lost.
constexpr double kReceivedLimitPercent = 99.9;
// Flat memory: the trace ring, the status line's look-back and the
// recorder's queue are bounded, so RSS settles after the warm-up. What still
// grows is SQLite's page cache as the archive grows (bounded by SQLite) and
// the driver's own log of the simulator's bytes: together 5 to 35 KB/min
// in 3-minute runs here. A leak of a few hundred bytes per reading (120 a
// minute) or of a redraw's buffers would exceed the limit.
constexpr double kRssSlopeLimitKbPerMin = 64;
// Two small replies a second, a chart redraw each, and a batch commit a
// second: a few percent of one core; a busy loop or a redraw storm is far
// above the limit.
constexpr double kCpuLimitPercent = 10;

// Least-squares slope of y over x.
double Slope(const std::vector<double> &x, const std::vector<double> &y) {
  const double n = double(x.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  const double d = n * sxx - sx * sx;
  return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

// Every reading of every recording in the archive, row by row.
qint64 RecordedReadings(const QString &path, QString &lineSettings) {
  Archive archive;
  if (!archive.open(path, false)) return -1;
  qint64 rows = 0;
  for (const EntrySummary &e : archive.listRecordings()) {
    lineSettings = e.lineSettings;
    archive.forEachRow(e, [&rows](const ArchivedRow &) {
      ++rows;
      return true;
    });
  }
  return rows;
}

}  // namespace

int RunSoak(const QStringList &args) {
  QCommandLineParser parser;
  const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Line speed (default 9600)."),
                                      QStringLiteral("B"), QStringLiteral("9600"));
  const QCommandLineOption minutesOption(QStringLiteral("minutes"), QStringLiteral("Duration (default 3)."),
                                         QStringLiteral("M"), QStringLiteral("3"));
  parser.addOptions({baudOption, minutesOption});
  if (const int status = ParseOptions(
          parser, args, QStringLiteral("Live polling for a set time at one line speed, recording on."));
      status >= 0)
    return status;
  bool baudOk = false, minutesOk = false;
  const int baud = parser.value(baudOption).toInt(&baudOk);
  const double minutes = parser.value(minutesOption).toDouble(&minutesOk);
  if (!baudOk || baud < 50 || !minutesOk || minutes <= 0 || minutes > 24 * 60) {
    Note(QStringLiteral("--baud wants a line speed and --minutes a duration above 0"));
    return 2;
  }
  const QString name = QStringLiteral("soak %1 baud: ").arg(baud);

  QTemporaryDir folder;
  const QString archivePath = folder.filePath(QStringLiteral("archive.sqlite"));
  // The recorder outlives the window, which ends its recording on closing.
  Recorder recorder(archivePath);
  // Answers cross the line at its speed, so the two soak speeds differ.
  testsupport::MeterSim sim({QStringLiteral("--pace"), QStringLiteral("--baud"), QString::number(baud),
                             QStringLiteral("--waveform"), QStringLiteral("sine")});
  Form2 w;
  w.AttachArchive(archivePath, &recorder);
  const bool started = sim.waitReady(10000) && LoadWindow(w, 10000, QString::number(baud));
  const QString settings = w.MSComm1->Settings();
  if (!started || !settings.startsWith(QString::number(baud) + QLatin1Char(','))) {
    Figure(name + QStringLiteral("readings received / requested"),
           QStringLiteral("no link at %1 (port settings %2)").arg(baud).arg(settings), false,
           QStringLiteral(">= %1 %").arg(kReceivedLimitPercent));
    return 1;
  }

  const ProcessSample start = SampleSelf();
  const qint64 totalMs = qint64(minutes * 60000);
  const double warmUp = std::min(kWarmUpMinutes, minutes / 3);
  std::vector<double> atMinutes, rssKb;
  for (qint64 elapsed = 0; elapsed < totalMs;) {
    const int step = int(std::min<qint64>(kSampleEveryMs, totalMs - elapsed));
    IdleWait(step);
    elapsed += step;
    const ProcessSample s = SampleSelf();
    const double at = double(s.wallMs - start.wallMs) / 60000;
    if (at >= warmUp) {
      atMinutes.push_back(at);
      rssKb.push_back(double(s.rssKb));
    }
    Note(QStringLiteral("%1 min: RSS %2 KB, %3 requests")
             .arg(at, 0, 'f', 1)
             .arg(s.rssKb)
             .arg(sim.countReceived(35)));
  }
  const ProcessSample end = SampleSelf();

  // Pause (no more requests), let the last reply in, then close as the user
  // would: the recording ends and the recorder commits what it holds.
  w.Command2_Click();
  IdleWait(1000);
  const int requested = sim.countReceived(35);
  w.Form_Unload();
  const bool flushed = recorder.flush(30000);
  QString recordedSettings;
  const qint64 received = flushed ? RecordedReadings(archivePath, recordedSettings) : -1;
  if (!recordedSettings.startsWith(QString::number(baud) + QLatin1Char(',')))
    Note(QStringLiteral("the recording names line settings %1").arg(recordedSettings));

  bool ok = true;
  const double receivedPercent = requested > 0 ? 100.0 * double(received) / requested : 0;
  ok &= Figure(name + QStringLiteral("readings received / requested"),
               QStringLiteral("%1 / %2").arg(received).arg(requested),
               requested > 0 && receivedPercent >= kReceivedLimitPercent && received <= requested,
               QStringLiteral(">= %1 %").arg(kReceivedLimitPercent));
  const double slope = atMinutes.size() >= 3 ? Slope(atMinutes, rssKb) : 0;
  ok &= Figure(name + QStringLiteral("RSS slope"), QStringLiteral("%1 KB/min").arg(slope, 0, 'f', 1),
               atMinutes.size() >= 3 && slope <= kRssSlopeLimitKbPerMin,
               QStringLiteral("<= %1 KB/min").arg(kRssSlopeLimitKbPerMin));
  const double cpu = CpuPercent(start, end);
  ok &= Figure(name + QStringLiteral("CPU share of one core"), QStringLiteral("%1 %").arg(cpu, 0, 'f', 1),
               cpu <= kCpuLimitPercent, QStringLiteral("<= %1 %").arg(kCpuLimitPercent));
  return ok ? 0 : 1;
}

}  // namespace stress
