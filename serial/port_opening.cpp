#include "serial/port_opening.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>
#include <signal.h>
#include <unistd.h>

namespace {

// Qt's values in the order of LineSettings' enums (and of its name table).
constexpr QSerialPort::Parity kQtParity[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                             QSerialPort::OddParity, QSerialPort::MarkParity,
                                             QSerialPort::SpaceParity};
constexpr QSerialPort::StopBits kQtStopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                 QSerialPort::TwoStop};
static_assert(std::size(kQtParity) == std::size(LineSettings::kParityNames));
static_assert(std::size(kQtStopBits) == std::size(LineSettings::kStopNames));

QSerialPort::Parity QtParity(LineSettings::Parity p) { return kQtParity[int(p)]; }
QSerialPort::StopBits QtStopBits(LineSettings::Stop s) { return kQtStopBits[int(s)]; }

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

}  // namespace

bool DeviceAccessibleByUser(const QString &device) {
  return ::access(device.toLocal8Bit().constData(), R_OK | W_OK) == 0;
}

QStringList DefaultLockFolders() {
  return {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/var/spool/locks"),
          QStringLiteral("/var/spool/uucp"), QStringLiteral("/etc/locks")};
}

// Lock files are named after the device without its /dev/ folder, slashes
// turned into underscores (LCK..ttyUSB0, LCK..pts_3); some programs use only
// the last part of the path (LCK..3).
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

OpenFailure OpenPlain(QSerialPort &port, const QString &device, const QStringList &lockFolders,
                      const std::function<bool(const QString &)> &accessible, QString *why) {
  // Another program that announced its use of the device by a lock file keeps
  // it; opening it too would share the line with it. A user who may not use
  // the device at all is told that first.
  if (const qint64 holder = LockHolder(device, lockFolders)) {
    *why = QStringLiteral("%1 is locked by process %2").arg(device).arg(holder);
    return accessible(device) ? OpenFailure::Busy : OpenFailure::NotPermitted;
  }
  port.setPortName(device);
  port.setBaudRate(QSerialPort::Baud9600);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  if (port.open(QIODevice::ReadWrite)) return OpenFailure::None;
  const QSerialPort::SerialPortError e = port.error();
  *why = port.errorString();
  port.clearError();
  switch (e) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::UnsupportedOperationError:  // exists but is no serial device
      return OpenFailure::NoDevice;
    case QSerialPort::PermissionError:
      // Busy, locked and forbidden all arrive here; only the last one
      // leaves this user without access to the device itself.
      return accessible(device) ? OpenFailure::Busy : OpenFailure::NotPermitted;
    case QSerialPort::OpenError: return OpenFailure::Busy;
    default: return OpenFailure::Other;
  }
}

bool ApplyLineSettingsTo(QSerialPort &port, const LineSettings &s) {
  return port.setBaudRate(s.baudRate) && port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
         port.setParity(QtParity(s.parity)) && port.setStopBits(QtStopBits(s.stopBits));
}
