#include "cli/meter_client.h"

#include <QDeadlineTimer>
#include <QThread>

#include "serial/port_io.h"
#include "serial/port_names.h"
#include "serial/port_opening.h"

namespace cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

// Waits are cut into slices this long so that Ctrl+C is noticed promptly.
constexpr int kSliceMs = 100;

}  // namespace

MeterClient::~MeterClient() {
  if (port_.isOpen()) port_.close();
}

MeterClient::OpenError MeterClient::open(int port, const LineSettings &settings) {
  settings_ = settings;
  lost_ = false;
  const QString name = portnames::PortName(port);
  const portnames::Resolved where = portnames::ResolvePort(port);
  device_ = where.device.isEmpty() ? portnames::DescribePort(port) : where.device;
  if (where.device.isEmpty()) {
    openErrorText_ = QStringLiteral("%1: no such device (%2)").arg(name, device_);
    return OpenError::NoDevice;
  }
  QString why;
  switch (OpenPlain(port_, where.device, DefaultLockFolders(), DeviceAccessibleByUser, &why)) {
    case OpenFailure::None: break;
    case OpenFailure::NoDevice:
      openErrorText_ = QStringLiteral("%1: %2 is not a usable serial device (%3)").arg(name, device_, why);
      return OpenError::NoDevice;
    case OpenFailure::NotPermitted:
      openErrorText_ = QStringLiteral(
                           "%1: no permission to use %2; add your user to the dialout group "
                           "and log in again")
                           .arg(name, device_);
      return OpenError::NotPermitted;
    case OpenFailure::Busy:
      openErrorText_ = QStringLiteral("%1: %2 is busy (in use by another program)").arg(name, device_);
      return OpenError::Busy;
    case OpenFailure::Other:
      openErrorText_ = QStringLiteral("%1: cannot open %2 (%3)").arg(name, device_, why);
      return OpenError::Other;
  }
  if (!ApplyLineSettingsTo(port_, settings)) {
    why = port_.errorString();
    port_.close();
    port_.clearError();
    openErrorText_ = QStringLiteral("%1: %2 does not take the line settings %3 (%4)")
                         .arg(name, device_, settings.Text(), why);
    return OpenError::SettingsRefused;
  }
  port_.clearError();
  openErrorText_.clear();
  return OpenError::None;
}

bool MeterClient::writeByte(quint8 byte) {
  if (!port_.isOpen()) return false;
  const char c = static_cast<char>(byte);
  if (port_.write(&c, 1) != 1) {
    lost_ = true;
    return false;
  }
  // Hand the byte to the driver now; a synchronous caller has no event loop.
  const QDeadlineTimer deadline(1000);
  while (port_.bytesToWrite() > 0 && !deadline.hasExpired()) {
    if (!port_.waitForBytesWritten(kSliceMs) && port_.error() == QSerialPort::ResourceError) {
      lost_ = true;
      return false;
    }
  }
  return port_.bytesToWrite() == 0;
}

void MeterClient::drain(int timeoutMs) {
  if (!port_.isOpen()) return;
  const portio::Handle device = port_.handle();
  const QDeadlineTimer deadline(timeoutMs);
  while (portio::DriverOutputQueue(device) > 0 && !deadline.hasExpired()) QThread::msleep(1);
}

QByteArray MeterClient::exchange(quint8 command, int expected, int timeoutMs,
                                 const std::function<void(int)> &progress) {
  QByteArray reply;
  if (!port_.isOpen()) return reply;
  // Whatever is still unread belongs to an earlier command: drop it, so the
  // reply is read from its first byte. The output side is left alone.
  port_.clear(QSerialPort::Input);
  if (!writeByte(command)) return reply;
  const QDeadlineTimer deadline(timeoutMs);
  while (reply.size() < expected && !deadline.hasExpired() && !g_interrupted) {
    if (port_.bytesAvailable() == 0) {
      const int slice = int(qMin<qint64>(deadline.remainingTime(), kSliceMs));
      if (!port_.waitForReadyRead(slice)) {
        const QSerialPort::SerialPortError e = port_.error();
        if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError) {
          lost_ = true;
          break;
        }
        port_.clearError();
      }
    }
    const QByteArray chunk = port_.readAll();
    if (!chunk.isEmpty()) {
      reply += chunk;
      if (progress) progress(int(reply.size()));
    }
  }
  return reply;
}

void MeterClient::send(quint8 command) {
  if (writeByte(command)) drain(1000);
}

bool MeterClient::handshake(int attempts, QByteArray *reply) {
  QByteArray got;
  for (int i = 0; i < attempts && !g_interrupted && !lost_; ++i) {
    got = exchange(kCmdHandshake, meterwire::kGroupSize, replyTimeoutMs(meterwire::kGroupSize));
    if (meterwire::IsHandshakeReply(got.constData(), got.size())) break;
  }
  if (reply) *reply = got;
  return meterwire::IsHandshakeReply(got.constData(), got.size());
}

int MeterClient::replyTimeoutMs(int bytes) const {
  int bitsPerByte = 1 + settings_.dataBits + (settings_.parity == LineSettings::Parity::None ? 0 : 1) +
                    (settings_.stopBits == LineSettings::Stop::One ? 1 : 2);
  const qint64 wireMs = qint64(bytes) * bitsPerByte * 1000 / qMax(settings_.baudRate, 1);
  return int(qMin<qint64>(1000 + 2 * wireMs, 600000));
}

void MeterClient::closeWithNotice() {
  if (!port_.isOpen()) return;
  if (!lost_) send(kCmdClosing);
  port_.close();
}

}  // namespace cli
