#pragma once
// Typing on a real program started with Qt's VNC platform
// (QT_QPA_PLATFORM=vnc:port=N): a bare RFB 3.3 client that completes the
// handshake and sends key events, nothing else. Key codes are X keysyms.
#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

constexpr quint32 kKeyControl = 0xffe3;
constexpr quint32 kKeyReturn = 0xff0d;

// A loopback TCP port that was free when asked.
inline int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

class VncKeyboard {
 public:
  VncKeyboard() = default;
  VncKeyboard(const VncKeyboard &) = delete;
  VncKeyboard &operator=(const VncKeyboard &) = delete;
  ~VncKeyboard() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Connects to the local port, retrying while nothing listens yet, and
  // completes the handshake (no security, shared session).
  bool connectTo(int port, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (fd_ < 0) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr.sin_port = htons(quint16(port));
      if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        fd_ = fd;
        break;
      }
      ::close(fd);
      if (clock.elapsed() > timeoutMs) return false;
      QThread::msleep(50);
    }
    char version[12], security[4], init[24];
    if (!read(version, 12, timeoutMs) || !write("RFB 003.003\n", 12)) return false;
    if (!read(security, 4, timeoutMs) || security[3] != 1 || !write("\x01", 1)) return false;
    if (!read(init, 24, timeoutMs)) return false;
    quint32 nameLength;
    memcpy(&nameLength, init + 20, 4);
    nameLength = ntohl(nameLength);
    for (quint32 i = 0; i < nameLength; ++i)
      if (!read(init, 1, timeoutMs)) return false;
    return true;
  }

  bool key(quint32 keysym, bool down) {
    char event[8] = {4, char(down ? 1 : 0), 0, 0};
    const quint32 sym = htonl(keysym);
    memcpy(event + 4, &sym, 4);
    return write(event, 8);
  }

  // Presses and releases `keysym`, with `modifier` held around it when given.
  bool tap(quint32 keysym, quint32 modifier = 0) {
    if (modifier && !key(modifier, true)) return false;
    const bool ok = key(keysym, true) && key(keysym, false);
    return (!modifier || key(modifier, false)) && ok;
  }

 private:
  bool read(char *buf, int n, int timeoutMs) {
    while (n > 0) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) != 1) return false;
      const ssize_t got = ::recv(fd_, buf, size_t(n), 0);
      if (got <= 0) return false;
      buf += got;
      n -= int(got);
    }
    return true;
  }
  bool write(const char *buf, int n) { return ::send(fd_, buf, size_t(n), MSG_NOSIGNAL) == n; }

  int fd_ = -1;
};

}  // namespace testsupport
