#include "serial/port_io.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace portio {

int DriverOutputQueue(Handle fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

qint64 WriteSome(Handle fd, const char *data, qint64 size, QString *why) {
  for (;;) {
    const ssize_t n = ::write(fd, data, size_t(size));
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    *why = QString::fromLocal8Bit(strerror(errno));
    return -1;
  }
}

void WaitWritable(Handle fd, int ms) {
  pollfd p{fd, POLLOUT, 0};
  ::poll(&p, 1, ms);
}

bool DeviceGone(Handle fd) {
  if (fd < 0) return true;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return true;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return errno != EINTR;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace portio
