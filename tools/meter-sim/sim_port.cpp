#include "sim_port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace metersim {

namespace {

std::string sysError(const std::string &what) { return what + ": " + std::strerror(errno); }

bool fail(std::string &error, const std::string &message) {
  error = message;
  return false;
}

speed_t speedFor(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

bool makeRaw(int fd, speed_t speed) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string readLink(const std::string &link) {
  char buf[4096];
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

bool SimPort::open(const std::string &device, int baud, const std::string &link, std::string &error) {
  close();
  bool ok = device.empty() ? openPty(error) : openDevice(device, baud, error);
  if (ok && !link.empty()) ok = placeLink(link, error);
  if (!ok) close();
  return ok;
}

bool SimPort::openPty(std::string &error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd_ < 0) return fail(error, sysError("posix_openpt"));
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0) return fail(error, sysError("grantpt/unlockpt"));
  char name[256];
  if (ptsname_r(fd_, name, sizeof name) != 0) return fail(error, sysError("ptsname"));
  path_ = name;
  slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slaveFd_ < 0) return fail(error, sysError("open " + path_));
  if (!makeRaw(slaveFd_, B9600)) return fail(error, sysError("raw mode on " + path_));
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  return true;
}

bool SimPort::openDevice(const std::string &device, int baud, std::string &error) {
  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return fail(error, sysError("open " + device));
  path_ = device;
  if (!makeRaw(fd_, speedFor(baud))) return fail(error, sysError("raw mode on " + device));
  return true;
}

bool SimPort::placeLink(const std::string &link, std::string &error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = link + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  // Create under a temporary name and rename over the old link, so the link
  // never disappears for a reader while it is being replaced.
  const std::string tmp = link + ".meter-sim." + std::to_string(getpid());
  ::unlink(tmp.c_str());
  if (symlink(path_.c_str(), tmp.c_str()) != 0) return fail(error, sysError("symlink " + tmp));
  if (rename(tmp.c_str(), link.c_str()) != 0) {
    error = sysError("rename to " + link);
    ::unlink(tmp.c_str());
    return false;
  }
  link_ = link;
  return true;
}

void SimPort::close() {
  if (!link_.empty() && readLink(link_) == path_) ::unlink(link_.c_str());
  link_.clear();
  if (slaveFd_ >= 0) ::close(slaveFd_);
  if (fd_ >= 0) ::close(fd_);
  slaveFd_ = fd_ = -1;
  path_.clear();
}

}  // namespace metersim
