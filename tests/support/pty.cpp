#include "support/pty.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "support/event_wait.h"

namespace testsupport {

void RawTerminal::adopt(int fd) {
  fd_ = fd;
  if (fd_ < 0) return;
  termios t{};
  ::tcgetattr(fd_, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd_, TCSANOW, &t);
}

bool RawTerminal::write(const QByteArray &bytes) {
  return fd_ >= 0 && ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void RawTerminal::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

PtyPair::PtyPair() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0) return;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ::close(master);
    return;
  }
  slave_ = QString::fromLocal8Bit(::ptsname(master));
  adopt(master);
}

QByteArray PtyPair::receive(int count, int timeoutMs) {
  return receiveUntil([count](const QByteArray &got) { return got.size() >= count; }, timeoutMs);
}

QByteArray PtyPair::receiveUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs) {
  waitUntil(
      [&] {
        readAvailable();
        return done(got_);
      },
      timeoutMs);
  QByteArray out = got_;
  got_.clear();
  return out;
}

void PtyPair::readAvailable() {
  char buf[256];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) return;
    got_.append(buf, int(n));
  }
}

PtyClient::PtyClient(const QString &path) {
  adopt(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK));
}

QByteArray PtyClient::read(int count, int timeoutMs) {
  QByteArray got;
  QDeadlineTimer deadline(timeoutMs);
  while (fd_ >= 0 && got.size() < count && !deadline.hasExpired()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0) continue;
    char buf[1024];
    const ssize_t n = ::read(fd_, buf, size_t(qMin<qsizetype>(sizeof buf, count - got.size())));
    if (n <= 0) break;
    got.append(buf, n);
  }
  return got;
}

bool PtyClient::waitHangUp(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (fd_ >= 0 && !deadline.hasExpired()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char c;
    const ssize_t n = ::read(fd_, &c, 1);
    if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
  }
  return false;
}

}  // namespace testsupport
