// unplug: the meter vanishes and comes back, again and again, half the times
// while live readings flow and half while a history block is on the wire.
// The window (its own serial control, reopen and handshake clocks) has to
// notice each loss, reopen the returned device, greet it and get readings
// flowing again, without spinning while the device is away and without
// keeping anything of the lost links.
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLabel>
#include <QRadioButton>
#include <QRandomGenerator>
#include <algorithm>
#include <malloc.h>
#include <vector>

#include "app/controls.h"
#include "app/form2.h"
#include "serial/comm_control.h"
#include "sim_session.h"
#include "stress_driver.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

namespace stress {

namespace {

using testsupport::waitUntil;

const QString kBlockComplete = QStringLiteral("返回历史数据正常");

// The device stays away this long each time.
constexpr int kAwayMs = 1000;
// How long one recovery may take before the cycle counts as not reconnected.
constexpr int kRecoveryTimeoutMs = 20000;
// The window's own clocks bound a recovery: the port is retried every 1 s
// (Timer5), the handshake every 0.5 s (Timer2) and a reading is asked for
// every 0.5 s (Timer4), so live readings are back within about 2 s of the
// return. A re-download adds the count reply, the 100 ms history step and
// the block's 0.8 s on the wire at 9600 baud: about 3 s. The limits allow
// twice that for a loaded 2-core machine (scheduling, other scenarios).
constexpr double kPollMedianLimit = 2.5, kPollMaxLimit = 4.5;
constexpr double kDownloadMedianLimit = 3.5, kDownloadMaxLimit = 6.0;
// Away, the window only retries the open once a second and blinks its
// lamps; anything near a busy loop would show as tens of percent.
constexpr double kCpuAwayLimit = 5.0;
// Twenty lost links must leave nothing behind. RSS is compared with the
// allocator's free heap returned to the system first (TrimmedSample): freed
// memory glibc keeps in a fragmented heap otherwise grows RSS by 1 to 5 MB
// over 20 cycles from run to run while the heap in use stays flat, which
// would hide or fake a leak. A leak of a port object or a history block per
// cycle would still show beyond this limit.
constexpr qint64 kRssGrowthLimitKb = 1024;

// A sample of this process after returning free heap to the system; `raw`
// gets the RSS before that.
ProcessSample TrimmedSample(qint64 &raw) {
  raw = SampleSelf().rssKb;
  malloc_trim(0);
  return SampleSelf();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Max(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

void SelectRealTime(Form2 &w) {
  if (w.OperatingMode == Form2::kRealTimeMode) return;
  w.Option1->setChecked(true);
  w.Option1_Click();
}

// The history mode greets the meter once; 读取 is pressed after the answer,
// as a user would.
void SelectHistory(Form2 &w) {
  if (w.OperatingMode == Form2::kHistoryMode) return;
  w.Option2->setChecked(true);
  w.Option2_Click();
  if (!waitUntil([&] { return w.Label6->text() == QStringLiteral("握手成功"); }, 5000))
    Note(QStringLiteral("no answer to the history mode's handshake"));
}

int BlocksSent(testsupport::MeterSim &sim) {
  const QList<testsupport::SentReply> sent = sim.sent();
  return int(std::count_if(sent.cbegin(), sent.cend(),
                           [](const testsupport::SentReply &r) { return r.bytes.size() > 3; }));
}

// 读取 once the window is linked: the count query and then the block.
// Returns once the block is on the wire (the simulator has sent it).
bool StartDownload(Form2 &w, testsupport::MeterSim &sim) {
  const int blocksBefore = BlocksSent(sim);
  w.Command4_Click();
  return waitUntil([&] { return BlocksSent(sim) > blocksBefore; }, 5000);
}

bool WaitDownloadComplete(Form2 &w) {
  return waitUntil(
      [&] { return w.HistoryReadStep == Form2::HistoryStep::Finished && w.Label6->text() == kBlockComplete; },
      kRecoveryTimeoutMs);
}

}  // namespace

int RunUnplug(const QStringList &args) {
  QCommandLineParser parser;
  const QCommandLineOption cyclesOption(QStringLiteral("cycles"), QStringLiteral("Cycles (default 20)."),
                                        QStringLiteral("N"), QStringLiteral("20"));
  parser.addOption(cyclesOption);
  if (const int status = ParseOptions(
          parser, args, QStringLiteral("The device vanishes mid-poll and mid-download and comes back."));
      status >= 0)
    return status;
  bool numeric = false;
  const int cycles = parser.value(cyclesOption).toInt(&numeric);
  if (!numeric || cycles < 2) {
    Note(QStringLiteral("--cycles wants a whole number of at least 2"));
    return 2;
  }

  // 255 groups paced at 9600 baud: the block is on the wire for 0.8 s.
  testsupport::MeterSim sim(QStringList{QStringLiteral("--pace"), QStringLiteral("--groups"),
                                        QStringLiteral("255"), QStringLiteral("--return-after-ms"),
                                        QString::number(kAwayMs)} +
                            DistinctReadingArgs());
  if (!sim.waitReady(10000)) {
    Figure(QStringLiteral("unplug: reconnects"), QStringLiteral("meter-sim did not start"), false,
           QStringLiteral("%1 of %1").arg(cycles));
    return 1;
  }
  Form2 w;
  if (!LoadWindow(w, 10000) || !WaitNewReading(w, ShownReading(w), 10000)) {
    Figure(QStringLiteral("unplug: reconnects"), QStringLiteral("no readings before the first cycle"), false,
           QStringLiteral("%1 of %1").arg(cycles));
    return 1;
  }

  QRandomGenerator random(20);  // the same cut moments every run
  std::vector<double> pollSeconds, downloadSeconds;
  int vanishes = 0;
  double awayCpuSeconds = 0;
  qint64 awayWallMs = 0;
  // One cycle: cut, away, back; true when readings flow again.
  const auto cycle = [&](bool midDownload, const QString &label) {
    if (midDownload) {
      SelectHistory(w);
      if (!StartDownload(w, sim)) Note(label + QStringLiteral(": the block did not start"));
      // Cut while the block crosses: up to 0.4 s into its 0.8 s.
      IdleWait(int(random.bounded(400)));
    } else {
      SelectRealTime(w);
      if (!WaitNewReading(w, ShownReading(w), 10000)) Note(label + QStringLiteral(": no reading"));
      IdleWait(int(random.bounded(500)));  // anywhere between two requests
    }
    sim.vanishNow();
    if (!sim.waitVanished(++vanishes, 5000)) {
      Note(label + QStringLiteral(": meter-sim did not vanish"));
      return false;
    }
    // While away the process only sleeps in the event loop: what it uses is
    // the window's reaction to the loss and its retries.
    const ProcessSample awayFrom = SampleSelf();
    IdleWait(kAwayMs * 8 / 10);
    const ProcessSample awayTo = SampleSelf();
    awayCpuSeconds += awayTo.cpuSeconds - awayFrom.cpuSeconds;
    awayWallMs += awayTo.wallMs - awayFrom.wallMs;
    if (midDownload && w.Label6->text() == kBlockComplete)
      Note(label + QStringLiteral(": the block was complete before the cut"));

    if (!sim.waitReady(5000)) {
      Note(label + QStringLiteral(": meter-sim did not return"));
      return false;
    }
    QElapsedTimer sinceReturn;
    sinceReturn.start();
    const QString shownAtReturn = ShownReading(w);
    const int greetings = sim.countReceived(5);
    bool recovered = false;
    if (midDownload) {
      // The user presses 读取 again as soon as the window says the meter is
      // linked (greeted again on the returned device); readings flow again
      // when the whole block has been received and shown.
      recovered = waitUntil(
                      [&] {
                        return sim.countReceived(5) > greetings && w.Connected == Form2::kConnected &&
                               w.MSComm1->PortOpen();
                      },
                      kRecoveryTimeoutMs) &&
                  StartDownload(w, sim) && WaitDownloadComplete(w);
    } else {
      recovered = WaitNewReading(w, shownAtReturn, kRecoveryTimeoutMs) && sim.countReceived(5) > greetings;
    }
    const double seconds = double(sinceReturn.elapsed()) / 1000;
    if (recovered) (midDownload ? downloadSeconds : pollSeconds).push_back(seconds);
    Note(QStringLiteral("%1 (%2): %3; RSS %4 KB, heap in use %5 KB")
             .arg(label, midDownload ? QStringLiteral("mid-download") : QStringLiteral("mid-poll"),
                  recovered ? QStringLiteral("back after %1 s").arg(seconds, 0, 'f', 2)
                            : QStringLiteral("NOT back"))
             .arg(SampleSelf().rssKb)
             .arg(qint64(mallinfo2().uordblks / 1024)));
    return recovered;
  };

  // One cycle of each kind before the first sample, so first-use costs (the
  // history table, the loss messages' glyphs, the serial control's error
  // paths) are not taken for growth. They are not counted.
  const bool warm = cycle(false, QStringLiteral("warm-up")) && cycle(true, QStringLiteral("warm-up"));
  pollSeconds.clear();
  downloadSeconds.clear();
  awayCpuSeconds = 0;
  awayWallMs = 0;
  if (!warm) {
    Figure(QStringLiteral("unplug: reconnects"), QStringLiteral("no recovery in the warm-up cycles"), false,
           QStringLiteral("%1 of %1").arg(cycles));
    return 1;
  }
  SelectRealTime(w);
  WaitNewReading(w, ShownReading(w), 10000);
  IdleWait(3000);
  qint64 rawBefore = 0, rawAfter = 0;
  const ProcessSample before = TrimmedSample(rawBefore);

  int reconnects = 0;
  for (int n = 1; n <= cycles; ++n) reconnects += cycle(n % 2 == 0, QStringLiteral("cycle %1").arg(n));

  // Settle as the user would leave it: real-time, readings flowing.
  SelectRealTime(w);
  WaitNewReading(w, ShownReading(w), 10000);
  IdleWait(3000);
  const ProcessSample after = TrimmedSample(rawAfter);
  Note(QStringLiteral("heap in use at the end: %1 KB").arg(qint64(mallinfo2().uordblks / 1024)));

  bool ok = true;
  ok &= Figure(QStringLiteral("unplug: reconnects"), QStringLiteral("%1 of %2").arg(reconnects).arg(cycles),
               reconnects == cycles, QStringLiteral("%1 of %1").arg(cycles));
  const auto seconds = [](const std::vector<double> &v) {
    return QStringLiteral("median %1, max %2").arg(Median(v), 0, 'f', 1).arg(Max(v), 0, 'f', 1);
  };
  ok &= Figure(
      QStringLiteral("unplug: seconds until readings flow again (mid-poll: next live reading shown)"),
      seconds(pollSeconds),
      !pollSeconds.empty() && Median(pollSeconds) <= kPollMedianLimit && Max(pollSeconds) <= kPollMaxLimit,
      QStringLiteral("median <= %1, max <= %2").arg(kPollMedianLimit).arg(kPollMaxLimit));
  ok &= Figure(QStringLiteral("unplug: seconds until readings flow again (mid-download: history read again "
                              "once linked, whole block shown)"),
               seconds(downloadSeconds),
               !downloadSeconds.empty() && Median(downloadSeconds) <= kDownloadMedianLimit &&
                   Max(downloadSeconds) <= kDownloadMaxLimit,
               QStringLiteral("median <= %1, max <= %2").arg(kDownloadMedianLimit).arg(kDownloadMaxLimit));
  const double awayCpu = awayWallMs > 0 ? 100.0 * awayCpuSeconds * 1000 / double(awayWallMs) : 0;
  ok &= Figure(QStringLiteral("unplug: CPU while the device is gone"),
               QStringLiteral("%1 % of one core").arg(awayCpu, 0, 'f', 1),
               awayWallMs > 0 && awayCpu <= kCpuAwayLimit, QStringLiteral("<= %1 %").arg(kCpuAwayLimit));
  ok &= Figure(QStringLiteral("unplug: open file descriptors before / after"),
               QStringLiteral("%1 / %2").arg(before.openFds).arg(after.openFds),
               after.openFds <= before.openFds, QStringLiteral("after <= before"));
  ok &= Figure(QStringLiteral("unplug: RSS before / after (KB)"),
               QStringLiteral("%1 / %2 (with free heap kept: %3 / %4)")
                   .arg(before.rssKb)
                   .arg(after.rssKb)
                   .arg(rawBefore)
                   .arg(rawAfter),
               after.rssKb <= before.rssKb + kRssGrowthLimitKb,
               QStringLiteral("after <= before + %1, free heap returned before each").arg(kRssGrowthLimitKb));
  w.Form_Unload();
  return ok ? 0 : 1;
}

}  // namespace stress
