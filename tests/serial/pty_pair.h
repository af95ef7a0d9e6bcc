#pragma once
// A pseudo-terminal pair for serial tests: the test plays the far end on the
// master side, the code under test opens the slave device.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <functional>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "support/event_wait.h"

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    slave_ = QString::fromLocal8Bit(::ptsname(master_));
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
  }
  ~PtyPair() { closeMaster(); }
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  bool ok() const { return master_ >= 0 && !slave_.isEmpty(); }
  QString slavePath() const { return slave_; }
  int masterFd() const { return master_; }

  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool send(const QByteArray &bytes) {
    return ::write(master_, bytes.constData(), size_t(bytes.size())) == bytes.size();
  }

  // Collects what the far end has received until `count` bytes are there or
  // the time is up; keeps the Qt event loop running meanwhile.
  QByteArray receive(int count, int timeoutMs) {
    return receiveUntil([count](const QByteArray &got) { return got.size() >= count; }, timeoutMs);
  }

  // The same, until `done` holds for everything received so far.
  QByteArray receiveUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs) {
    testsupport::waitUntil([&] { readAvailable(); return done(got_); }, timeoutMs);
    QByteArray out = got_;
    got_.clear();
    return out;
  }

 private:
  void readAvailable() {
    char buf[256];
    for (;;) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) return;
      got_.append(buf, int(n));
    }
  }

  int master_ = -1;
  QString slave_;
  QByteArray got_;
};

// Points COMn in the ports folder at `target`, replacing an earlier link.
inline bool LinkPort(const QString &portsDir, int port, const QString &target) {
  const QString path = portsDir + QStringLiteral("/COM%1").arg(port);
  QFile::remove(path);
  return QFile::link(target, path);
}
