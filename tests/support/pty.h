#pragma once
// Pseudo-terminals for the serial tests, in raw mode and non-blocking.
// PtyPair: the test plays the far end on the master side while the code
// under test opens the slave device. PtyClient: a bare client of a device
// (the simulator's), without the program's serial layer.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>

namespace testsupport {

// A raw-mode terminal descriptor the test owns.
class RawTerminal {
 public:
  ~RawTerminal() { close(); }
  RawTerminal(const RawTerminal &) = delete;
  RawTerminal &operator=(const RawTerminal &) = delete;

  bool write(const QByteArray &bytes);
  void close();

 protected:
  RawTerminal() = default;
  // Takes `fd` and puts it into raw mode.
  void adopt(int fd);
  int fd_ = -1;
};

class PtyPair : public RawTerminal {
 public:
  PtyPair();

  bool ok() const { return fd_ >= 0 && !slave_.isEmpty(); }
  QString slavePath() const { return slave_; }
  int masterFd() const { return fd_; }
  void closeMaster() { close(); }
  bool send(const QByteArray &bytes) { return write(bytes); }

  // Collects what the far end has received until `count` bytes are there or
  // the time is up; keeps the Qt event loop running meanwhile.
  QByteArray receive(int count, int timeoutMs);
  // The same, until `done` holds for everything received so far.
  QByteArray receiveUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs);

 private:
  void readAvailable();
  QString slave_;
  QByteArray got_;
};

class PtyClient : public RawTerminal {
 public:
  explicit PtyClient(const QString &path);

  bool isOpen() const { return fd_ >= 0; }
  // Reads until `count` bytes arrived or timeoutMs passed; returns what arrived.
  QByteArray read(int count, int timeoutMs);
  // True once the far end has hung up (read fails or reports end of file).
  bool waitHangUp(int timeoutMs);
};

// Points COMn in the ports folder at `target`, replacing an earlier link.
inline bool LinkPort(const QString &portsDir, int port, const QString &target) {
  const QString path = portsDir + QStringLiteral("/COM%1").arg(port);
  QFile::remove(path);
  return QFile::link(target, path);
}

}  // namespace testsupport

using testsupport::LinkPort;
using testsupport::PtyClient;
using testsupport::PtyPair;
