// live and download: readings from the meter, printed with their time or
// group number, and handed to the archive and CSV outputs.
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/meter_client.h"
#include "cli/outputs.h"
#include "protocol/reading_text.h"

namespace cli {

namespace {

// Live replies missed in a row before the meter counts as gone.
constexpr int kMissedRepliesAllowed = 3;

QString LocalTimeText(qint64 utcMs) {
  const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs);
  // With an explicit offset the text carries it ("+08:00").
  return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// Sleeps until `clock` reaches untilMs, in short slices so Ctrl+C is noticed.
void SleepUntil(const QElapsedTimer &clock, qint64 untilMs) {
  while (!g_interrupted) {
    const qint64 left = untilMs - clock.elapsed();
    if (left <= 0) return;
    QThread::msleep(static_cast<unsigned long>(qMin<qint64>(left, 50)));
  }
}

// "[=========>          ]  384/765 bytes" on one line of a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(int total) : total_(total), shown_(total > 0 && ErrorIsTerminal()) {}
  void update(int done) {
    if (!shown_) return;
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? int(qint64(qMin(done, total_)) * kWidth / total_) : kWidth;
    QString bar(kWidth, QLatin1Char(' '));
    for (int i = 0; i < filled; ++i) bar[i] = QLatin1Char('=');
    if (filled < kWidth) bar[filled] = QLatin1Char('>');
    Err(QStringLiteral("\r[%1] %2/%3 bytes").arg(bar).arg(done, 5).arg(total_));
    drawn_ = true;
  }
  void end() {
    if (drawn_) Err(QStringLiteral("\n"));
    drawn_ = false;
  }

 private:
  int total_;
  bool shown_;
  bool drawn_ = false;
};

}  // namespace

int RunLive(const QStringList &args) {
  CommandLine line(QStringLiteral("live COMn [options]"),
                   QStringLiteral("Polls the meter for its present reading, like the window, and prints one\n"
                                  "line per reading with its local time. Runs until --count readings or\n"
                                  "--duration have passed, or until Ctrl+C; it always ends by sending the\n"
                                  "closing notice to the meter. Readings are recorded in the archive\n"
                                  "unless --no-record is given."));
  line.addLineOptions();
  line.addOption({QStringLiteral("interval"), QStringLiteral("Seconds between live requests (default 0.5)."),
                  QStringLiteral("seconds"), QStringLiteral("0.5")});
  line.addOption({QStringLiteral("count"), QStringLiteral("Stop after N readings."), QStringLiteral("N")});
  line.addOption({QStringLiteral("duration"), QStringLiteral("Stop after this time: 90, 90s, 10m, 2h."),
                  QStringLiteral("time")});
  line.addRecordingOptions();
  line.parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("COM1 to COM16."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;

  double interval = 0;
  if (!ParseSeconds(line.parser.value(QStringLiteral("interval")), &interval))
    return line.usageError(
        QStringLiteral("invalid --interval: %1").arg(line.parser.value(QStringLiteral("interval"))));
  const bool hasCount = line.parser.isSet(QStringLiteral("count"));
  const bool hasDuration = line.parser.isSet(QStringLiteral("duration"));
  if (hasCount && hasDuration) return line.usageError(QStringLiteral("give --count or --duration, not both"));
  int count = 0;
  if (hasCount) {
    bool ok = false;
    count = line.parser.value(QStringLiteral("count")).toInt(&ok);
    if (!ok || count <= 0)
      return line.usageError(
          QStringLiteral("invalid --count: %1").arg(line.parser.value(QStringLiteral("count"))));
  }
  double duration = 0;
  if (hasDuration && !ParseSeconds(line.parser.value(QStringLiteral("duration")), &duration))
    return line.usageError(
        QStringLiteral("invalid --duration: %1").arg(line.parser.value(QStringLiteral("duration"))));

  Outputs outputs;
  if (const int rc = outputs.setUp(line, Outputs::Kind::Live); rc >= 0) return rc;
  MeterClient client;
  QString name;
  if (const int rc = ConnectMeter(line, client, &name); rc >= 0) return rc;
  outputs.begin(name, client.device(), client.settings().Text());

  const qint64 intervalMs = qMax<qint64>(1, qRound64(interval * 1000));
  const qint64 durationMs = qRound64(duration * 1000);
  QElapsedTimer clock;
  clock.start();
  int rc = kExitOk;
  int readings = 0;
  int missed = 0;
  qint64 nextMs = 0;
  while (!g_interrupted) {
    if (hasCount && readings >= count) break;
    if (hasDuration && clock.elapsed() >= durationMs) break;
    const QByteArray reply =
        client.exchange(kCmdLive, ReadingGroup::kSize, client.replyTimeoutMs(ReadingGroup::kSize));
    if (g_interrupted) break;
    if (client.lost()) {
      Err(QStringLiteral("%1: the port went away\n").arg(name));
      rc = kExitPortFailed;
      break;
    }
    if (reply.size() < ReadingGroup::kSize) {
      if (++missed >= kMissedRepliesAllowed) {
        Err(QStringLiteral("%1: the meter stopped answering\n").arg(name));
        rc = kExitNoAnswer;
        break;
      }
      Err(QStringLiteral("%1: no reply to a live request\n").arg(name));
    } else {
      missed = 0;
      ++readings;
      const qint64 now = QDateTime::currentMSecsSinceEpoch();
      const ReadingGroup group = ReadingGroup::At(reply, 0);
      if (!outputs.csvOnStdout())
        Out(QStringLiteral("%1  %2\n").arg(LocalTimeText(now), DecodeLiveReading(group).caption));
      outputs.liveReading(now, group);
    }
    if (hasCount && readings >= count) break;
    // Keep the polling rhythm; after a slow reply start again from now.
    nextMs = qMax(nextMs + intervalMs, clock.elapsed());
    SleepUntil(clock, hasDuration ? qMin(nextMs, durationMs) : nextMs);
  }
  client.closeWithNotice();
  const int finished = outputs.finish();
  return rc == kExitOk && finished >= 0 ? finished : rc;
}

int RunDownload(const QStringList &args) {
  CommandLine line(QStringLiteral("download COMn [options]"),
                   QStringLiteral("Reads every measurement group stored in the meter and prints one line\n"
                                  "per group: its number and its reading as the data table shows it.\n"
                                  "A progress bar goes to standard error when that is a terminal. A\n"
                                  "block shorter than announced is reported as incomplete (exit 5).\n"
                                  "The download is recorded in the archive unless --no-record is given."));
  line.addLineOptions();
  line.addRecordingOptions();
  line.parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("COM1 to COM16."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;

  Outputs outputs;
  if (const int rc = outputs.setUp(line, Outputs::Kind::Download); rc >= 0) return rc;
  MeterClient client;
  QString name;
  if (const int rc = ConnectMeter(line, client, &name); rc >= 0) return rc;

  const QByteArray countReply =
      client.exchange(kCmdGroupCount, meterwire::kGroupSize, client.replyTimeoutMs(meterwire::kGroupSize));
  if (!meterwire::IsCountReply(countReply.constData(), countReply.size())) {
    if (!g_interrupted)
      Err(countReply.size() < meterwire::kGroupSize
              ? QStringLiteral("%1: the meter does not answer the group count query\n").arg(name)
              : QStringLiteral("%1: the meter's group count reply is wrong (%2 %3 %4 instead of 5 5 N)\n")
                    .arg(name)
                    .arg(quint8(countReply[0]))
                    .arg(quint8(countReply[1]))
                    .arg(quint8(countReply[2])));
    client.closeWithNotice();
    return g_interrupted ? kExitIncomplete : kExitNoAnswer;
  }
  const int announced = quint8(countReply[2]);
  const int expected = announced * ReadingGroup::kSize;
  Err(QStringLiteral("%1: %2 groups stored\n").arg(name).arg(announced));

  QByteArray block;
  if (announced > 0) {
    ProgressBar bar(expected);
    bar.update(0);
    block = client.exchange(kCmdHistory, expected, client.replyTimeoutMs(expected),
                            [&bar](int bytes) { bar.update(bytes); });
    bar.end();
  }
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  client.closeWithNotice();

  // Bytes past the announced block are none of ours.
  block.truncate(expected);
  const int received = ReadingGroup::WholeGroupsIn(block);
  if (!outputs.csvOnStdout()) {
    QString rows;
    for (int i = 0; i < received; ++i)
      rows += QStringLiteral("%1  %2\n")
                  .arg(i + 1, 3, 10, QLatin1Char('0'))
                  .arg(HistoryReadingText(ReadingGroup::At(block, i)));
    Out(rows);
  }
  outputs.download(now, name, client.device(), announced, block);
  const int finished = outputs.finish();

  if (block.size() < expected) {
    Err(QStringLiteral("%1: incomplete: received %2 of %3 bytes (%4 of %5 groups)%6\n")
            .arg(name)
            .arg(block.size())
            .arg(expected)
            .arg(received)
            .arg(announced)
            .arg(g_interrupted ? QStringLiteral(", interrupted") : QString()));
    return kExitIncomplete;
  }
  return finished >= 0 ? finished : kExitOk;
}

}  // namespace cli
