#pragma once
// The meter simulator (tools/meter-sim) run as a child process for tests.
//
//   testsupport::MeterSim sim({"--silent"});      // becomes COM1 in the ports folder
//   QVERIFY(sim.waitReady());
//   ... Form_Load, drive the window ...
//   QVERIFY(sim.waitForReceived(5, 2, 3000));     // the program wrote 5 twice
//
// The simulator's pseudo-terminal is linked as COMn in $ARRESTER_PORTS_DIR (a fresh
// temporary folder is made if the variable is unset). Under Wine the test is a
// Windows program and the simulator a Linux one: it is linked as COMn in
// $ARRESTER_WINE_PORTS (a Linux folder, each COMn of which Wine's registry maps to
// Windows' own COMn), logs to a file and takes its commands from a file.
// Everything the simulator logs is collected (from its standard output, or
// under Wine its log file); accessors first take in whatever has arrived. Waits run the Qt event loop, so the
// window under test keeps working meanwhile. The destructor stops the simulator; it removes its link.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QProcess;

namespace testsupport {

struct ReceivedByte {
  qint64 ms;  // milliseconds since the simulator started
  quint8 byte;
};

struct SentReply {
  qint64 ms;  // when the answer went out, same clock as ReceivedByte
  QByteArray bytes;
};

class MeterSim {
 public:
  // Starts meter-sim with --link <ports folder>/COM<comNumber> and extraArgs
  // (see meter-sim --help; do not pass --log, the log is read from stdout).
  explicit MeterSim(const QStringList &extraArgs = {}, int comNumber = 1);
  ~MeterSim();
  MeterSim(const MeterSim &) = delete;
  MeterSim &operator=(const MeterSim &) = delete;

  // Waits until the device is in place (also again after --return-after-ms).
  bool waitReady(int timeoutMs = 5000);
  // Waits until the simulator has vanished (--vanish-after or vanishNow())
  // at least `times` times.
  bool waitVanished(int times = 1, int timeoutMs = 5000);
  // Makes the device vanish at once (SIGUSR1); it comes back after
  // --return-after-ms. Does nothing while the device is away.
  void vanishNow();

  QString devicePath();                           // latest pty (or device), as announced so far
  QString linkPath() const { return linkPath_; }  // <ports folder>/COMn

  QList<ReceivedByte> received();  // every byte the simulator received, in order
  QByteArray receivedBytes();
  int countReceived(quint8 byte);
  // Waits until `byte` has been received at least `count` times.
  bool waitForReceived(quint8 byte, int count, int timeoutMs);
  QList<SentReply> sent();  // the answers sent, one entry per answer
  QByteArray sentBytes();   // all answers back to back

  bool isRunning() const;
  // SIGTERM, then waits for the exit (kills after 5 s). Safe to call twice.
  void stop();

 private:
  // Per system (sim_process_posix.cpp, sim_process_win.cpp).
  void startProcess(const QStringList &args);
  QByteArray readNewOutput();
  void sendVanish();
  void stopProcess();

  void takeOutput();
  void parseLine(const QByteArray &line);

  QProcess *process_ = nullptr;  // on Windows none: the simulator runs detached
  QString controlDir_;           // on Windows: the folder of its log and control file
  qint64 logRead_ = 0;           // on Windows: how much of the log was taken in
  bool stopped_ = false;
  QString linkPath_;
  QString devicePath_;
  bool present_ = false;
  int vanishCount_ = 0;
  QByteArray partialLine_;
  QList<ReceivedByte> received_;
  QList<SentReply> sent_;
};

}  // namespace testsupport
