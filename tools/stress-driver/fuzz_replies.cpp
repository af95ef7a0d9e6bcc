// The fuzzed-replies scenario. The driver plays the meter on the master side of
// a pseudo-terminal linked as COM1, and the window opens it through its normal
// start-up. Block after block, the window is brought into one of its four
// waiting states (handshake, live reading, group count, history block) the way
// the program itself gets there, and the meter answers with one block of random
// bytes instead of the reply. Whatever state the window ends in is fine; it must
// not crash, trip a sanitizer or stop coming back to its event loop, and once the
// meter answers properly again the handshake and a live reading must work.
#include <QCommandLineParser>
#include <QDateTime>
#include <QLabel>
#include <QSerialPort>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/form2.h"
#include "archive/recorder.h"
#include "protocol/meter_wire.h"
#include "serial/comm_control.h"
#include "stress_driver.h"
#include "support/pty.h"

namespace stress {
namespace {

using Clock = std::chrono::steady_clock;

qint64 NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

const QString kHangsFigure = QStringLiteral("fuzzed replies: hangs");

// Watches the main thread from a thread of its own. The main thread beats every
// time it comes back from the event loop; a gap longer than hangMs is one hang.
// A main thread stuck for ten times that will not come back at all: the run is
// ended with the figure failed, so scripts/stress does not wait for its own
// timeout.
class Watchdog {
 public:
  Watchdog(int hangMs, quint64 seed) : hangMs_(hangMs), seed_(seed) {
    beat();
    thread_ = std::thread([this] { watch(); });
  }
  ~Watchdog() { stop(); }
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

  // Ends the watch (before the teardown, which is not the event loop's business).
  void stop() {
    if (stop_.exchange(true)) return;
    thread_.join();
  }
  void beat() { lastBeatMs_.store(NowMs(), std::memory_order_relaxed); }
  void setBlock(qint64 block) { block_.store(block, std::memory_order_relaxed); }
  int hangs() const { return hangs_.load(); }

 private:
  void watch() {
    bool inHang = false;
    const int step = std::clamp(hangMs_ / 10, 5, 100);
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
      const qint64 gap = NowMs() - lastBeatMs_.load(std::memory_order_relaxed);
      if (gap <= hangMs_) {
        inHang = false;
        continue;
      }
      if (!inHang) {
        inHang = true;
        ++hangs_;
        Note(QStringLiteral("fuzz: the main thread has not come back for %1 ms at block %2 (seed %3)")
                 .arg(gap)
                 .arg(block_.load())
                 .arg(seed_));
      }
      if (gap > 10LL * hangMs_) {
        Figure(kHangsFigure, QStringLiteral("%1 (stuck for good)").arg(hangs_.load()), false,
               QStringLiteral("0"));
        Note(QStringLiteral("fuzz: giving up; replay with --seed %1").arg(seed_));
        std::fflush(stderr);
        _exit(3);
      }
    }
  }

  const int hangMs_;
  const quint64 seed_;
  std::atomic<qint64> lastBeatMs_{0};
  std::atomic<qint64> block_{0};
  std::atomic<int> hangs_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The four replies the window waits for, by the command that asks for each.
enum Kind { kHandshakeKind, kLiveKind, kCountKind, kHistoryKind, kKinds };
const char *const kKindNames[kKinds] = {"handshake", "live reading", "group count", "history block"};
constexpr std::uint8_t kKindCommands[kKinds] = {meterwire::kHandshake, meterwire::kLiveRequest,
                                                meterwire::kCountQuery, meterwire::kHistoryRequest};

constexpr int kMaxBlock = 800;
constexpr int kPaintEvery = 25;
// A proper live reading group and the text the window shows for it.
const QByteArray kLiveGroup("\x0c\x22\x01", 3);
const QString kLiveText = QStringLiteral("12.34mA");
// How long one proper answer may take to be handled, and how long the bytes of
// one block may take to reach the window. Generous: the window needs well
// under a millisecond for either, but a loaded two-core machine under the
// sanitizers can stall a process for a good fraction of a second.
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kIntakeTimeoutMs = 5000;
// The normal path afterwards: handshake and a live reading well within the
// 500 ms polling period a few times over.
constexpr int kRecoveryTimeoutMs = 5000;

class ReplyFuzzer {
 public:
  ReplyFuzzer(Form2 &w, PtyPair &pty, Watchdog &dog)
      : w_(w), pty_(pty), dog_(dog), port_(w.MSComm1->findChild<QSerialPort *>()) {
    // Runs after the window's own receive handler, which has just taken the
    // bytes into ReceiveBuffer.
    QObject::connect(w_.MSComm1, &CommControl::OnComm, [this] { consumed_ += w_.ReceiveBuffer.size(); });
  }

  // Runs the event loop once, takes in what the window wrote, and beats.
  void pumpOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    drainCommands();
    dog_.beat();
  }

  // Runs the event loop until pred() holds or timeoutMs passes. Between rounds
  // it sleeps only until the line has bytes again (at most a millisecond).
  bool pumpUntil(const std::function<bool()> &pred, int timeoutMs) {
    const qint64 end = NowMs() + timeoutMs;
    for (;;) {
      pumpOnce();
      if (pred()) return true;
      if (NowMs() > end) return false;
      waitForLine(1);
    }
  }

  // What a proper meter answers to `command` (the history request of a count
  // of 0 is answered by nothing).
  static QByteArray ProperReply(std::uint8_t command) {
    switch (command) {
      case meterwire::kHandshake:
        return QByteArray(reinterpret_cast<const char *>(meterwire::kHandshakeReply), 3);
      case meterwire::kLiveRequest: return kLiveGroup;
      case meterwire::kCountQuery:
        return QByteArray(1, char(meterwire::kCountReplyMark)) + char(meterwire::kCountReplyMark) + '\0';
      default: return {};
    }
  }

  // The meter answers every command properly while pred() does not hold.
  bool serveUntil(const std::function<bool()> &pred, int timeoutMs) {
    serving_ = true;
    const bool ok = pumpUntil(pred, timeoutMs);
    serving_ = false;
    return ok;
  }

  // Greets the meter and answers properly until the window is connected.
  bool ensureConnected() {
    if (w_.Connected == Form2::kConnected) return true;
    w_.Timer2_Timer();
    return answerAndWait(ProperReply(meterwire::kHandshake),
                         [this] { return w_.Connected == Form2::kConnected; });
  }

  // Brings the window into the state of waiting for a reply of `kind`, by its
  // own handlers and, where a step needs one, a proper answer of the meter.
  bool reach(Kind kind, std::mt19937_64 &rng) {
    if (!w_.MSComm1->PortOpen()) return false;
    // Only the driver writes to the window's line, and it has stopped: a
    // block of the case before is over, and the window need not wait for
    // the line to go quiet before its next request.
    w_.LineSettling = false;
    switch (kind) {
      case kHandshakeKind:
        // Either the handshake clock's tick or the greeting of a switch to the
        // history query.
        if (rng() % 2)
          w_.Timer2_Timer();
        else
          w_.Option2_Click();
        break;
      case kLiveKind:
        if (w_.OperatingMode != Form2::kRealTimeMode) w_.Option1_Click();
        if (!ensureConnected()) return false;
        if (w_.IsRunning())
          w_.Timer4_Timer();
        else
          w_.Command1_Click();
        break;
      case kCountKind:
      case kHistoryKind:
        // The greeting of the mode switch is left unanswered: a slow meter;
        // the count query drops whatever would come for it.
        if (w_.OperatingMode != Form2::kHistoryMode) w_.Option2_Click();
        if (!ensureConnected()) return false;
        w_.Command4_Click();
        if (w_.HistoryReadStep != Form2::HistoryStep::AwaitingCount) return false;
        if (kind == kCountKind) break;
        {
          // A proper count of any size, so the block that follows is short,
          // exact or long against it.
          const char n = char(rng() % 256);
          const QByteArray count = QByteArray(2, char(meterwire::kCountReplyMark)) + n;
          if (!answerAndWait(count,
                             [this] { return w_.HistoryReadStep != Form2::HistoryStep::AwaitingCount; }))
            return false;
          // What the 100 ms history tick does next (unless it did already).
          w_.Timer3_Timer();
          if (w_.HistoryReadStep != Form2::HistoryStep::AwaitingBlock) return false;
        }
        break;
      case kKinds: return false;
    }
    return w_.MSComm1->PortOpen() && w_.CommandBuffer.size() == 1 &&
           std::uint8_t(w_.CommandBuffer[0]) == kKindCommands[kind];
  }

  // Writes one block and runs the event loop until the window has taken it
  // in: every byte of it handled by a receive event or still buffered below
  // the receive threshold (so no further event can come for it), or dropped
  // by a command the window wrote meanwhile (its timers go on ticking).
  // False when that did not happen in time.
  bool sendBlock(const QByteArray &block) {
    const qint64 base = buffered();
    consumed_ = 0;
    const qint64 commandsBefore = commandsSeen_;
    if (!block.isEmpty() && !pty_.send(block)) return false;
    return pumpUntil(
        [&] {
          if (!w_.MSComm1->PortOpen() || commandsSeen_ != commandsBefore) return true;
          const qint64 held = buffered();
          return consumed_ + held >= base + block.size() && held < w_.MSComm1->RThreshold();
        },
        kIntakeTimeoutMs);
  }

  // After a block for a history read: the time the window waits for the rest
  // is over at once rather than after its two seconds (and more), and its
  // history tick handles what came as the reply, the way it does at the
  // deadline. A block for the count query gets the same: a count reply that
  // never came fails the read; one that was handled lets the history request go.
  void endHistoryWait(Kind kind) {
    if (kind == kCountKind) {
      w_.CountReplyDeadline = QDeadlineTimer(0);
      w_.Timer3_Timer();
    } else if (kind == kHistoryKind && w_.HistoryReadStep == Form2::HistoryStep::AwaitingBlock) {
      w_.BlockReplyDeadline = QDeadlineTimer(0);
      w_.Timer3_Timer();
    }
    pumpOnce();
  }

 private:
  template <typename Pred>
  bool answerAndWait(const QByteArray &reply, Pred done) {
    // The command must have reached the line before its reply may come.
    const qint64 before = commandsSeen_;
    if (!pumpUntil([&] { return commandsSeen_ > before || done(); }, kAnswerTimeoutMs)) return false;
    if (done()) return true;
    if (!pty_.send(reply)) return false;
    return pumpUntil(done, kAnswerTimeoutMs);
  }

  // Bytes for the window not yet handled: in the driver and in the port.
  qint64 buffered() const {
    if (!port_ || !port_->isOpen()) return 0;
    int inDriver = 0;
    if (::ioctl(int(port_->handle()), FIONREAD, &inDriver) != 0) inDriver = 0;
    return inDriver + port_->bytesAvailable();
  }

  // Sleeps until the window's device has bytes or the meter's side has a
  // command, at most timeoutMs.
  void waitForLine(int timeoutMs) const {
    pollfd fds[2] = {{pty_.masterFd(), POLLIN, 0}, {-1, POLLIN, 0}};
    if (port_ && port_->isOpen()) fds[1].fd = int(port_->handle());
    ::poll(fds, 2, timeoutMs);
  }

  // Reads the commands the window wrote; answers them properly while serving.
  void drainCommands() {
    char buf[256];
    for (;;) {
      const ssize_t n = ::read(pty_.masterFd(), buf, sizeof buf);
      if (n <= 0) return;
      commandsSeen_ += n;
      if (!serving_) continue;
      for (ssize_t i = 0; i < n; ++i) {
        const QByteArray reply = ProperReply(std::uint8_t(buf[i]));
        if (!reply.isEmpty()) pty_.send(reply);
      }
    }
  }

  Form2 &w_;
  PtyPair &pty_;
  Watchdog &dog_;
  QSerialPort *const port_;  // the serial control's own port, for what it holds
  qint64 consumed_ = 0;      // bytes taken in by receive events since the last block
  qint64 commandsSeen_ = 0;  // command bytes the window has written
  bool serving_ = false;
};

// Quick look at one waiting state for a note on failure.
QString Describe(const Form2 &w) {
  return QStringLiteral("port %1, command %2, mode %3, connected %4, Label6 \"%5\"")
      .arg(w.MSComm1->PortOpen() ? QStringLiteral("open") : QStringLiteral("closed"))
      .arg(w.CommandBuffer.isEmpty() ? -1 : int(std::uint8_t(w.CommandBuffer[0])))
      .arg(w.OperatingMode)
      .arg(w.Connected)
      .arg(w.Label6->text());
}

}  // namespace

int RunFuzzedReplies(const QStringList &args) {
  QCommandLineParser parser;
  const QCommandLineOption blocksOption(QStringLiteral("blocks"), QStringLiteral("Blocks to send."),
                                        QStringLiteral("N"), QStringLiteral("100000"));
  const QCommandLineOption seedOption(
      QStringLiteral("seed"), QStringLiteral("Random seed (default: the clock)."), QStringLiteral("S"));
  const QCommandLineOption hangOption(
      QStringLiteral("hang-ms"),
      QStringLiteral("Longest time the main thread may stay away from its event loop."), QStringLiteral("T"),
      QStringLiteral("3000"));
  const QCommandLineOption noRecordOption(QStringLiteral("no-record"),
                                          QStringLiteral("Attach no archive (by default a temporary one)."));
  parser.addOptions({blocksOption, seedOption, hangOption, noRecordOption});
  if (const int status = ParseOptions(
          parser, args, QStringLiteral("Random reply blocks while the window waits for each reply."));
      status >= 0)
    return status;
  bool blocksOk = false, hangOk = false, seedOk = true;
  const qint64 blocks = parser.value(blocksOption).toLongLong(&blocksOk);
  const int hangMs = parser.value(hangOption).toInt(&hangOk);
  quint64 seed = quint64(QDateTime::currentMSecsSinceEpoch());
  if (parser.isSet(seedOption)) seed = parser.value(seedOption).toULongLong(&seedOk);
  if (!blocksOk || blocks < 0 || !hangOk || hangMs <= 0 || !seedOk) {
    Note(QStringLiteral("fuzz: --blocks and --seed want whole numbers, --hang-ms a positive one"));
    return 2;
  }
  Note(QStringLiteral("fuzz: %1 blocks, seed %2 (replay with --seed %2)").arg(blocks).arg(seed));
  std::mt19937_64 rng(seed);

  PtyPair pty;
  if (!pty.ok() || !LinkPort(qEnvironmentVariable("ARRESTER_PORTS_DIR"), 1, pty.slavePath())) {
    Note(QStringLiteral("fuzz: no pseudo-terminal for COM1"));
    return 1;
  }
  // The program records by default, so the recording path gets the random
  // readings and downloads too, into an archive of this run's own.
  QTemporaryDir archiveDir;
  std::unique_ptr<Recorder> recorder;
  if (!parser.isSet(noRecordOption))
    recorder = std::make_unique<Recorder>(archiveDir.filePath(QStringLiteral("fuzz.sqlite")));

  Watchdog dog(hangMs, seed);
  qint64 sent = 0;
  bool recovered = false;
  {
    Form2 w;
    w.AttachArchive(archiveDir.filePath(QStringLiteral("fuzz.sqlite")), recorder.get());
    w.Form_Load();
    w.show();
    // Painting after every block would halve the rate, and the real window
    // paints a couple of times a second, not hundreds; the whole window is
    // painted with what the blocks left every kPaintEvery blocks instead.
    w.setUpdatesEnabled(false);
    ReplyFuzzer fuzzer(w, pty, dog);
    if (!fuzzer.ensureConnected())
      Note(QStringLiteral("fuzz: no handshake at start-up: %1").arg(Describe(w)));

    std::uniform_int_distribution<int> kindOf(0, kKinds - 1);
    std::uniform_int_distribution<int> lengthOf(0, kMaxBlock);
    std::uniform_int_distribution<int> byteOf(0, 255);
    qint64 perKind[kKinds] = {};
    int failedReaches = 0, failedInARow = 0, slowIntakes = 0;
    const qint64 startMs = NowMs();
    QByteArray block;
    while (sent < blocks) {
      const Kind kind = Kind(kindOf(rng));
      if (!fuzzer.reach(kind, rng)) {
        // Another tick of the window may have come between; try again, but a
        // window that cannot be brought to wait at all ends the run.
        ++failedInARow;
        if (++failedReaches % 100 == 0)
          Note(QStringLiteral("fuzz: %1 failed tries to wait for a %2 reply: %3")
                   .arg(failedReaches)
                   .arg(QLatin1String(kKindNames[kind]), Describe(w)));
        if (failedInARow >= 1000) break;
        continue;
      }
      failedInARow = 0;
      block.resize(lengthOf(rng));
      for (char &c : block) c = char(byteOf(rng));
      dog.setBlock(sent);
      if (!fuzzer.sendBlock(block)) ++slowIntakes;
      fuzzer.endHistoryWait(kind);
      ++perKind[kind];
      ++sent;
      if (sent % kPaintEvery == 0) {
        w.setUpdatesEnabled(true);
        w.repaint();
        w.setUpdatesEnabled(false);
      }
      if (sent % 10000 == 0)
        Note(QStringLiteral("fuzz: %1 blocks, %2 blocks/s")
                 .arg(sent)
                 .arg(sent * 1000.0 / double(std::max<qint64>(1, NowMs() - startMs)), 0, 'f', 0));
    }
    const double seconds = double(NowMs() - startMs) / 1000.0;
    Note(QStringLiteral("fuzz: %1 blocks in %2 s (%3 blocks/s); %4 %5, %6 %7, %8 %9, %10 %11")
             .arg(sent)
             .arg(seconds, 0, 'f', 1)
             .arg(seconds > 0 ? double(sent) / seconds : 0.0, 0, 'f', 0)
             .arg(QLatin1String(kKindNames[0]))
             .arg(perKind[0])
             .arg(QLatin1String(kKindNames[1]))
             .arg(perKind[1])
             .arg(QLatin1String(kKindNames[2]))
             .arg(perKind[2])
             .arg(QLatin1String(kKindNames[3]))
             .arg(perKind[3]));
    if (failedReaches || slowIntakes)
      Note(QStringLiteral(
               "fuzz: %1 failed tries to reach a waiting state, %2 blocks not taken in within %3 ms")
               .arg(failedReaches)
               .arg(slowIntakes)
               .arg(kIntakeTimeoutMs));

    w.setUpdatesEnabled(true);

    // The normal path: from now on the meter answers every command properly.
    // The user picks the history query (the window greets the meter once),
    // then real-time monitoring and Start; the polling clock does the rest.
    w.Option2_Click();
    const bool greeted = fuzzer.serveUntil(
        [&] {
          return w.Label6->text() == QStringLiteral("握手成功") && w.Connected == Form2::kConnected &&
                 w.Label2->text() == QStringLiteral("设备连接成功");
        },
        kRecoveryTimeoutMs);
    if (!greeted) Note(QStringLiteral("fuzz: no handshake afterwards: %1").arg(Describe(w)));
    w.Option1_Click();
    w.Command1_Click();
    const bool reading =
        greeted && fuzzer.serveUntil([&] { return w.Label7->text() == kLiveText; }, kRecoveryTimeoutMs);
    if (greeted && !reading)
      Note(QStringLiteral("fuzz: no live reading afterwards: Label7 \"%1\", %2")
               .arg(w.Label7->text(), Describe(w)));
    recovered = greeted && reading;
    dog.stop();
    w.Form_Unload();
    fuzzer.pumpOnce();
  }
  recorder.reset();

  bool all = true;
  all &= Figure(QStringLiteral("fuzzed replies: blocks sent"), QString::number(sent), sent >= blocks,
                QStringLiteral(">= %1").arg(blocks));
  all &= Figure(kHangsFigure, QString::number(dog.hangs()), dog.hangs() == 0,
                QStringLiteral("0 (back in the event loop within %1 ms)").arg(hangMs));
  all &= Figure(QStringLiteral("fuzzed replies: handshake and reading afterwards"),
                recovered ? QStringLiteral("yes") : QStringLiteral("no"), recovered,
                QStringLiteral("yes, within %1 s each").arg(kRecoveryTimeoutMs / 1000));
  if (!all) Note(QStringLiteral("fuzz: replay with --seed %1").arg(seed));
  return all ? 0 : 1;
}

}  // namespace stress
