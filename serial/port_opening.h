#pragma once
// Opening a serial device the one way both the window's serial control and
// the console tool do it: respect another program's lock file, open with
// plain settings every device takes, and sort a refusal into the few kinds a
// user can act on. Then the wanted line settings are given separately, so a
// refused setting is told apart from a device that cannot be opened.
// Qt Core and Qt SerialPort only; no widgets.
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <functional>

#include "serial/line_settings.h"

enum class OpenFailure {
  None,
  NoDevice,      // no such device, or not a serial device
  Busy,          // held or locked by another program
  NotPermitted,  // the device exists but this user may not use it
  Other,
};

// Whether this user may read and write the device.
bool DeviceAccessibleByUser(const QString &device);

// Where serial programs leave their lock files (LCK..ttyUSB0).
QStringList DefaultLockFolders();

// The live process that holds a lock file for `device` in one of `folders`,
// 0 when there is none; a lock naming a process that is gone does not count.
qint64 LockHolder(const QString &device, const QStringList &folders);

// Opens `device` for reading and writing at 9600,N,8,1 without flow control.
// `accessible` tells a busy device from a forbidden one (Linux reports both
// the same way); `why` gets the system's words on failure.
OpenFailure OpenPlain(QSerialPort &port, const QString &device, const QStringList &lockFolders,
                      const std::function<bool(const QString &)> &accessible, QString *why);

// Gives line settings to an open port; false when the port refuses any part.
bool ApplyLineSettingsTo(QSerialPort &port, const LineSettings &settings);
