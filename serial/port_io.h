#pragma once
// What the serial control and the console tool do with an open device beside
// QSerialPort's own interface: write without its buffer, wait until the
// driver sent everything, and tell a device that went away. One file per
// system implements it (port_io_posix.cpp, port_io_win.cpp).
#include <QSerialPort>
#include <QString>
#include <utility>

namespace portio {

// What the port's handle() gives: a file descriptor, or a Windows HANDLE.
using Handle = decltype(std::declval<const QSerialPort &>().handle());

// Bytes the driver still has to put on the line; 0 when it cannot tell.
int DriverOutputQueue(Handle device);

// Hands as much of `data` to the driver as it takes now: the count taken,
// 0 when it takes nothing at the moment, -1 when the device failed (`why`
// gets the system's words).
qint64 WriteSome(Handle device, const char *data, qint64 size, QString *why);

// Waits at most `ms` milliseconds for the driver to take more output.
void WaitWritable(Handle device, int ms);

// True when the open device no longer works: it was removed, or hung up (a
// pseudo-terminal whose far end closed, a USB adapter pulled out).
bool DeviceGone(Handle device);

}  // namespace portio
