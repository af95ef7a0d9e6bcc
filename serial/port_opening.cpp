#include "serial/port_opening.h"

#include <iterator>

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

}  // namespace

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
