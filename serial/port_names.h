#pragma once
// Port names "COM1".."COM16" and the devices they stand for on this machine.
// COMn is the symbolic link COMn in the ports folder when there is one, else a
// fixed default device. Links are read afresh at every call. On Windows COMn
// is Windows' own port of that name (port_names_win.cpp).
#include <QString>

namespace portnames {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 16;

// Whether COMn can be a link in the ports folder; not on Windows, where COMn
// is always Windows' own port.
bool UsesPortsFolder();

// $ARRESTER_PORTS_DIR, else $XDG_CONFIG_HOME/arrester-monitor/ports, else
// ~/.config/arrester-monitor/ports.
QString PortsFolder();

// "COMn" for port number n.
QString PortName(int port);

// Port number of "COMn" (1..16), 0 for anything else.
int PortNumber(const QString &name);

// Device used when COMn has no link: COM1-4 /dev/ttyS0-3, COM5-12
// /dev/ttyUSB0-7, COM13-16 /dev/ttyACM0-3. Empty outside 1..16.
QString DefaultDevice(int port);

struct Resolved {
  QString device;       // the real device path to open; empty when none
  bool linked = false;  // true when a link in the ports folder named it
};

// The device COMn stands for now, with every link followed to the real file.
// A dangling link or a missing device gives an empty device path.
Resolved ResolvePort(int port);

// For display: the link target or default device, even when it is missing.
QString DescribePort(int port);

}  // namespace portnames
