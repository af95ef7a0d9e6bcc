#include "serial/comm_control.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <limits>

#include "serial/line_settings.h"
#include "serial/port_io.h"
#include "serial/port_names.h"
#include "serial/port_opening.h"

std::function<bool(const QString &)> CommControl::DeviceAccessible = DeviceAccessibleByUser;

std::function<bool(QSerialPort &, const LineSettings &)> CommControl::ApplyLineSettings = ApplyLineSettingsTo;

QStringList CommControl::LockFolders = DefaultLockFolders();

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
  // Open with plain settings every device takes, then give it ours, so that a
  // refused setting is told apart from a device that cannot be opened.
  QString why;
  opening_ = true;
  const OpenFailure failure = OpenPlain(*port_, where.device, LockFolders, DeviceAccessible, &why);
  opening_ = false;
  switch (failure) {
    case OpenFailure::None: break;
    case OpenFailure::NoDevice: fail(InvalidPort, why); return;
    case OpenFailure::Busy: fail(PortInUse, why); return;
    case OpenFailure::NotPermitted: fail(PermissionDenied, why); return;
    case OpenFailure::Other: fail(OtherError, why); return;
  }
  const std::optional<LineSettings> settings = LineSettings::Parse(settings_);
  if (settings && !ApplyLineSettings(*port_, *settings)) {
    why = port_->errorString();
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
// It writes to the port's device itself rather than through QSerialPort:
// QSerialPort keeps its own write buffer, which the output purge
// (OutBufferCount = 0) would have to reach into and which could hold back a
// command byte already handed over. Here every byte is either still in
// pending_ or with the driver, so the output purge drops exactly the held
// bytes of earlier writes, never the command just written, and Flush knows
// when the line has it.
bool CommControl::writePending() {
  if (!PortOpen()) {
    pending_.clear();
    return false;
  }
  const portio::Handle device = port_->handle();
  while (!pending_.isEmpty()) {
    QString why;
    const qint64 n = portio::WriteSome(device, pending_.constData(), pending_.size(), &why);
    if (n > 0) {
      pending_.remove(0, int(n));
    } else if (n == 0) {
      break;
    } else {
      loseDevice(QStringLiteral("write failed: %1").arg(why));
      return false;
    }
  }
  return true;
}

void CommControl::Flush(int timeoutMs) {
  if (!PortOpen()) return;
  const QDeadlineTimer deadline(timeoutMs);
  const portio::Handle device = port_->handle();
  while (!pending_.isEmpty() && !deadline.hasExpired()) {
    if (!writePending()) return;
    if (pending_.isEmpty()) break;
    portio::WaitWritable(device, int(qMin<qint64>(deadline.remainingTime(), 50)));
  }
  // Wait for the driver's own queue, bounded so a stuck line cannot hang us.
  while (portio::DriverOutputQueue(device) > 0 && !deadline.hasExpired()) QThread::msleep(1);
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

void CommControl::onReadyRead() {
  lastReceive_.start();
  emit BytesArrived();
  checkThreshold();
}

qint64 CommControl::MsSinceLastReceive() const {
  return lastReceive_.isValid() ? lastReceive_.elapsed() : std::numeric_limits<qint64>::max() / 2;
}

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
    default: break;  // NoError after every setter; refused setters are judged by their caller
  }
}

// True when the open device no longer works: it was removed, or it was hung
// up (a pseudo-terminal whose far end closed, a USB adapter pulled out).
bool CommControl::deviceGone() const { return portio::DeviceGone(port_->handle()); }

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
