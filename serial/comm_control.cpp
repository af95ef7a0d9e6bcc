#include "serial/comm_control.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
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
  const portnames::Resolved where = portnames::ResolvePort(commPort_);
  if (where.device.isEmpty()) {
    fail(InvalidPort, QStringLiteral("no device for %1").arg(portnames::PortName(commPort_)));
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
  // Only bytes still held here are dropped. The driver's queue is left alone:
  // purging it would also drop the command just written (and, on a
  // pseudo-terminal, empty the peer's unread input).
  pending_.clear();
  drainTimer_->stop();
}

QString CommControl::DevicePath() const { return portnames::ResolvePort(commPort_).device; }

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
      // The device is gone; QSerialPort would otherwise report it again and
      // again while still calling itself open.
      loseDevice(port_->errorString());
      break;
    default:
      break;  // NoError after every setter; refused setters are judged by their caller
  }
}

void CommControl::loseDevice(const QString &why) {
  if (!port_->isOpen()) return;
  pending_.clear();
  drainTimer_->stop();
  port_->close();
  port_->clearError();
  fail(InvalidPort, why);
  // Told from the event loop, not from inside QSerialPort's own handler.
  QTimer::singleShot(0, this, &CommControl::DeviceLost);
}
