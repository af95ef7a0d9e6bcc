#include "pty_client.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyClient::PtyClient(const QString &path) {
  fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios t{};
  tcgetattr(fd_, &t);
  cfmakeraw(&t);
  tcsetattr(fd_, TCSANOW, &t);
}

PtyClient::~PtyClient() { close(); }

void PtyClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool PtyClient::write(const QByteArray &bytes) {
  return fd_ >= 0 && ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
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
