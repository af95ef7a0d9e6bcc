#include "sim_process.h"

#include <QDir>
#include <QProcess>  // deleted here; started in the system part

#include "event_wait.h"

namespace testsupport {

MeterSim::MeterSim(const QStringList &extraArgs, int comNumber) {
  const QString com = QStringLiteral("COM%1").arg(comNumber);
#ifdef Q_OS_WIN
  linkPath_ = qEnvironmentVariable("ARRESTER_WINE_PORTS") + QLatin1Char('/') + com;
#else
  QString portsDir = qEnvironmentVariable("ARRESTER_PORTS_DIR");
  if (portsDir.isEmpty()) portsDir = makeTemporaryPortsDir();
  linkPath_ = QDir(portsDir).filePath(com);
#endif
  startProcess(QStringList{QStringLiteral("--link"), linkPath_} + extraArgs);
}

MeterSim::~MeterSim() {
  stop();
  delete process_;
}

bool MeterSim::waitReady(int timeoutMs) {
  waitUntil(
      [this] {
        takeOutput();
        return present_ || !isRunning();
      },
      timeoutMs);
  return present_;
}

bool MeterSim::waitVanished(int times, int timeoutMs) {
  return waitUntil(
      [&] {
        takeOutput();
        return vanishCount_ >= times;
      },
      timeoutMs);
}

QString MeterSim::devicePath() {
  takeOutput();
  return devicePath_;
}

QList<ReceivedByte> MeterSim::received() {
  takeOutput();
  return received_;
}

QByteArray MeterSim::receivedBytes() {
  takeOutput();
  QByteArray bytes;
  for (const auto &r : received_) bytes.append(static_cast<char>(r.byte));
  return bytes;
}

int MeterSim::countReceived(quint8 byte) {
  takeOutput();
  int n = 0;
  for (const auto &r : received_) n += r.byte == byte;
  return n;
}

bool MeterSim::waitForReceived(quint8 byte, int count, int timeoutMs) {
  return waitUntil([&] { return countReceived(byte) >= count; }, timeoutMs);
}

QList<SentReply> MeterSim::sent() {
  takeOutput();
  return sent_;
}

QByteArray MeterSim::sentBytes() {
  takeOutput();
  QByteArray bytes;
  for (const auto &s : sent_) bytes += s.bytes;
  return bytes;
}

void MeterSim::vanishNow() {
  if (isRunning()) sendVanish();
}

void MeterSim::stop() {
  if (isRunning()) stopProcess();
  stopped_ = true;
  takeOutput();
}

void MeterSim::takeOutput() {
  partialLine_ += readNewOutput();
  qsizetype end;
  while ((end = partialLine_.indexOf('\n')) >= 0) {
    parseLine(partialLine_.left(end));
    partialLine_.remove(0, end + 1);
  }
}

// Lines: "ready <path>", "<ms> rx <byte>", "<ms> tx <byte>...", "<ms> vanish",
// "<ms> return <path>".
void MeterSim::parseLine(const QByteArray &line) {
  const QList<QByteArray> f = line.trimmed().split(' ');
  if (f.size() >= 2 && f[0] == "ready") {
    devicePath_ = QString::fromLocal8Bit(f[1]);
    present_ = true;
    return;
  }
  if (f.size() < 2) return;
  const qint64 ms = f[0].toLongLong();
  if (f[1] == "rx" && f.size() == 3) {
    received_.append({ms, static_cast<quint8>(f[2].toUInt())});
  } else if (f[1] == "tx") {
    QByteArray bytes;
    for (qsizetype i = 2; i < f.size(); ++i) bytes.append(static_cast<char>(f[i].toUInt()));
    sent_.append({ms, bytes});
  } else if ((f[1] == "return" || f[1] == "ready") && f.size() == 3) {  // the log file's own
    devicePath_ = QString::fromLocal8Bit(f[2]);
    present_ = true;
  } else if (f[1] == "vanish") {
    present_ = false;
    ++vanishCount_;
  }
}

}  // namespace testsupport
