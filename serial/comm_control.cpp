#include "serial/comm_control.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <limits>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial/line_settings.h"
#include "serial/port_names.h"

namespace {

QSerialPort::Parity QtParity(LineSettings::Parity p) {
  switch (p) {
    case LineSettings::Parity::Even: return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd: return QSerialPort::OddParity;
    case LineSettings::Parity::Mark: return QSerialPort::MarkParity;
    case LineSettings::Parity::Space: return QSerialPort::SpaceParity;
    case LineSettings::Parity::None: break;
  }
  return QSerialPort::NoParity;
}

QSerialPort::StopBits QtStopBits(LineSettings::Stop s) {
  switch (s) {
    case LineSettings::Stop::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case LineSettings::Stop::Two: return QSerialPort::TwoStop;
    case LineSettings::Stop::One: break;
  }
  return QSerialPort::OneStop;
}

// The process id a lock file names: ASCII digits (serial terminals write
// "%10d\n", Qt's lock files "pid\nname\nhost"), or the old 4-byte binary form.
qint64 LockFilePid(const QByteArray &content) {
  const QByteArray text = content.trimmed();
  int digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits > 0) return text.left(digits).toLongLong();
  if (content.size() == int(sizeof(qint32))) {
    qint32 binary = 0;
    std::memcpy(&binary, content.constData(), sizeof binary);
    return binary;
  }
  return 0;
}

// The live process that holds a lock file for `device`, 0 when there is none.
// Lock files are named after the device without its /dev/ folder, slashes
// turned into underscores (LCK..ttyUSB0, LCK..pts_3); some programs use only
// the last part of the path (LCK..3). A lock naming a process that is gone is
// stale and does not count.
qint64 LockHolder(const QString &device, const QStringList &folders) {
  QString underDev = device;
  if (underDev.startsWith(QLatin1String("/dev/"))) underDev = underDev.mid(5);
  underDev.replace(QLatin1Char('/'), QLatin1Char('_'));
  QStringList names{QStringLiteral("LCK..") + underDev};
  const QString base = QStringLiteral("LCK..") + device.section(QLatin1Char('/'), -1);
  if (!names.contains(base)) names << base;
  for (const QString &folder : folders) {
    for (const QString &name : names) {
      QFile lock(folder + QLatin1Char('/') + name);
      if (!lock.open(QIODevice::ReadOnly)) continue;
      const qint64 pid = LockFilePid(lock.read(64));
      if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) continue;
      if (::kill(pid_t(pid), 0) == 0 || errno == EPERM) return pid;
    }
  }
  return 0;
}

// Bytes the driver still has to put on the line; 0 when it cannot tell.
int DriverOutputQueue(int fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

}  // namespace

std::function<bool(const QString &)> CommControl::DeviceAccessible = [](const QString &device) {
  return ::access(device.toLocal8Bit().constData(), R_OK | W_OK) == 0;
};

std::function<bool(QSerialPort &, const LineSettings &)> CommControl::ApplyLineSettings =
    [](QSerialPort &port, const LineSettings &s) {
      return port.setBaudRate(s.baudRate) &&
             port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
             port.setParity(QtParity(s.parity)) && port.setStopBits(QtStopBits(s.stopBits));
    };

QStringList CommControl::LockFolders = {
    QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/var/spool/locks"),
    QStringLiteral("/var/spool/uucp"), QStringLiteral("/etc/locks")};

CommControl::CommControl(QObject *parent) : QObject(parent) {
  port_ = new QSerialPort(this);
  drainTimer_ = new QTimer(this);
  drainTimer_->setInterval(5);
  connect(drainTimer_, &QTimer::timeout, this, [this] {
    if (!writePending() || pending_.isEmpty()) drainTimer_->stop();
  });
  connect(port_, &QSerialPort::readyRead, this, &CommControl::onReadyRead);
  connect(port_, &QSerialPort::errorOccurred, this,
          [this](QSerialPort::SerialPortError e) { onSerialError(int(e)); });
}

CommControl::~CommControl() {
  // The last bytes written (the closing notice) must reach the line.
  closePort();
}

void CommControl::fail(int error, const QString &text) {
  error_ = error;
  errorText_ = text;
}

void CommControl::setCommPort(int port) {
  if (PortOpen()) return;  // the number changes only while the port is closed
  commPort_ = port;
  // A port chosen afresh resolves by the plain rules again.
  openedThroughLink_ = false;
}

portnames::Resolved CommControl::Resolve() const {
  portnames::Resolved where = portnames::ResolvePort(commPort_);
  if (openedThroughLink_ && !where.linked) return {QString(), true};
  return where;
}

bool CommControl::setSettings(const QString &text) {
  const std::optional<LineSettings> wanted = LineSettings::Parse(text);
  if (!wanted) {
    fail(SettingsRefused, QStringLiteral("malformed settings: %1").arg(text));
    return false;
  }
  if (PortOpen()) {
    if (!ApplyLineSettings(*port_, *wanted)) {
      const QString why = port_->errorString();
      // Put back what the port used before, part by part.
      if (const auto old = LineSettings::Parse(settings_)) ApplyLineSettings(*port_, *old);
      fail(SettingsRefused, QStringLiteral("settings %1 refused: %2").arg(text, why));
      return false;
    }
  }
  settings_ = text;
  return true;
}

bool CommControl::PortOpen() const { return port_->isOpen(); }

void CommControl::setPortOpen(bool open) {
  if (!open) {
    closePort();
    return;
  }
  ClearError();
  if (PortOpen()) {
    fail(PortInUse, QStringLiteral("port already open"));
    return;
  }
  const portnames::Resolved where = Resolve();
  if (where.device.isEmpty()) {
    fail(InvalidPort, QStringLiteral("no device for %1").arg(portnames::PortName(commPort_)));
    return;
  }
  // Another program that announced its use of the device by a lock file keeps
  // it; opening it too would share the line with it. A user who may not use
  // the device at all is told that first, as below.
  if (const qint64 holder = LockHolder(where.device, LockFolders)) {
    fail(DeviceAccessible(where.device) ? PortInUse : PermissionDenied,
         QStringLiteral("%1 is locked by process %2").arg(where.device).arg(holder));
    return;
  }
  // Open with plain settings every device takes, then give it ours, so that a
  // refused setting is told apart from a device that cannot be opened.
  port_->setPortName(where.device);
  port_->setBaudRate(QSerialPort::Baud9600);
  port_->setDataBits(QSerialPort::Data8);
  port_->setParity(QSerialPort::NoParity);
  port_->setStopBits(QSerialPort::OneStop);
  port_->setFlowControl(QSerialPort::NoFlowControl);
  opening_ = true;
  const bool opened = port_->open(QIODevice::ReadWrite);
  opening_ = false;
  if (!opened) {
    const QSerialPort::SerialPortError e = port_->error();
    const QString why = port_->errorString();
    port_->clearError();
    switch (e) {
      case QSerialPort::DeviceNotFoundError:
      case QSerialPort::UnsupportedOperationError:  // exists but is no serial device
        fail(InvalidPort, why);
        break;
      case QSerialPort::PermissionError:
        // Busy, locked and forbidden all arrive here; only the last one
        // leaves this user without access to the device itself.
        fail(DeviceAccessible(where.device) ? PortInUse : PermissionDenied, why);
        break;
      case QSerialPort::OpenError:
        fail(PortInUse, why);
        break;
      default:
        fail(OtherError, why);
        break;
    }
    return;
  }
  const std::optional<LineSettings> settings = LineSettings::Parse(settings_);
  if (settings && !ApplyLineSettings(*port_, *settings)) {
    const QString why = port_->errorString();
    port_->close();
    fail(SettingsRefused, QStringLiteral("settings %1 refused: %2").arg(settings_, why));
    return;
  }
  port_->clearError();
  commEvent_ = EvNone;
  openDevice_ = where.device;
  openedThroughLink_ = where.linked;
}

void CommControl::closePort() {
  if (!port_->isOpen()) {
    pending_.clear();
    return;
  }
  Flush();
  pending_.clear();
  drainTimer_->stop();
  port_->close();
  openDevice_.clear();
}

void CommControl::setRThreshold(int bytes) {
  rThreshold_ = bytes;
  // Bytes already waiting may now be enough for an event.
  if (PortOpen() && rThreshold_ > 0 && port_->bytesAvailable() >= rThreshold_)
    QTimer::singleShot(0, this, &CommControl::checkThreshold);
}

void CommControl::Output(const QByteArray &bytes) {
  if (!PortOpen() || bytes.isEmpty()) return;
  pending_.append(bytes);
  lastWriteSize_ = int(bytes.size());
  if (writePending() && !pending_.isEmpty()) drainTimer_->start();
}

// Hands held bytes to the driver without blocking. False when the device
// failed (it is then closed and reported lost).
bool CommControl::writePending() {
  if (!PortOpen()) {
    pending_.clear();
    return false;
  }
  const int fd = int(port_->handle());
  while (!pending_.isEmpty()) {
    const ssize_t n = ::write(fd, pending_.constData(), size_t(pending_.size()));
    if (n > 0) {
      pending_.remove(0, int(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      loseDevice(QStringLiteral("write failed: %1").arg(QString::fromLocal8Bit(strerror(errno))));
      return false;
    }
  }
  return true;
}

void CommControl::Flush(int timeoutMs) {
  if (!PortOpen()) return;
  const QDeadlineTimer deadline(timeoutMs);
  const int fd = int(port_->handle());
  while (!pending_.isEmpty() && !deadline.hasExpired()) {
    if (!writePending()) return;
    if (pending_.isEmpty()) break;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, int(qMin<qint64>(deadline.remainingTime(), 50)));
  }
  // Wait for the driver's own queue, bounded so a stuck line cannot hang us.
  while (DriverOutputQueue(fd) > 0 && !deadline.hasExpired()) QThread::msleep(1);
}

QByteArray CommControl::Input() {
  commEvent_ = EvNone;
  if (!PortOpen()) return {};
  return port_->readAll();
}

int CommControl::InBufferCount() const { return PortOpen() ? int(port_->bytesAvailable()) : 0; }

void CommControl::setInBufferCount(int zero) {
  if (zero != 0 || !PortOpen()) return;
  // Both our buffer and the driver's: nothing received so far survives.
  port_->clear(QSerialPort::Input);
}

int CommControl::OutBufferCount() const { return int(pending_.size()); }

void CommControl::setOutBufferCount(int zero) {
  if (zero != 0) return;
  // Only bytes of earlier writes still held here are dropped; what the latest
  // Output() gave is at the end of the held bytes and stays, so a command
  // written just before the purge always leaves, also on a congested line.
  // The driver's queue is left alone: purging it would also drop the command
  // just written (and, on a pseudo-terminal, empty the peer's unread input).
  const int keep = qMin(lastWriteSize_, int(pending_.size()));
  pending_ = pending_.right(keep);
  lastWriteSize_ = keep;
  if (pending_.isEmpty()) drainTimer_->stop();
}

QString CommControl::DevicePath() const { return PortOpen() ? openDevice_ : Resolve().device; }

void CommControl::onReadyRead() { checkThreshold(); }

void CommControl::checkThreshold() {
  if (!PortOpen() || rThreshold_ <= 0 || port_->bytesAvailable() < rThreshold_) return;
  commEvent_ = EvReceive;
  emit OnComm();
}

void CommControl::onSerialError(int error) {
  if (opening_ || !port_->isOpen()) return;  // open failures are judged by setPortOpen
  switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
      if (deviceGone()) {
        // QSerialPort would otherwise report it again and again while still
        // calling itself open.
        loseDevice(port_->errorString());
      } else {
        // A read that would block (another program on the same device took
        // the bytes first) or was interrupted: the device is still there.
        // QSerialPort stops watching for input after such a read; watch again.
        port_->clearError();
        resumeReading();
      }
      break;
    default:
      break;  // NoError after every setter; refused setters are judged by their caller
  }
}

// True when the open device no longer works: it was removed, or it was hung
// up (a pseudo-terminal whose far end closed, a USB adapter pulled out).
bool CommControl::deviceGone() const {
  const int fd = int(port_->handle());
  if (fd < 0) return true;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return true;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return errno != EINTR;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void CommControl::resumeReading() {
  // A little later rather than from inside QSerialPort's failing read, so a
  // read that keeps failing cannot spin the event loop.
  QTimer::singleShot(10, this, [this] {
    // Setting the buffer size makes QSerialPort watch the device for input again.
    if (PortOpen()) port_->setReadBufferSize(port_->readBufferSize());
  });
}

void CommControl::loseDevice(const QString &why) {
  if (!port_->isOpen()) return;
  pending_.clear();
  drainTimer_->stop();
  port_->close();
  port_->clearError();
  openDevice_.clear();
  fail(InvalidPort, why);
  // Told from the event loop, not from inside QSerialPort's own handler.
  QTimer::singleShot(0, this, &CommControl::DeviceLost);
}
