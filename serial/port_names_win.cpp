// On Windows COMn is Windows' own port of that name; there is no ports folder.
#include "serial/port_names.h"

#include <iterator>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace portnames {

bool UsesPortsFolder() { return false; }

QString DefaultDevice(int port) {
  return port >= kFirstPort && port <= kLastPort ? PortName(port) : QString();
}

Resolved ResolvePort(int port) {
  Resolved r;
  const QString name = DefaultDevice(port);
  if (name.isEmpty()) return r;
  // The system knows every port that exists now, plugged-in adapters too.
  wchar_t target[1024];
  if (QueryDosDeviceW(reinterpret_cast<const wchar_t *>(name.utf16()), target, DWORD(std::size(target))) != 0)
    r.device = name;
  return r;
}

QString DescribePort(int port) { return DefaultDevice(port); }

}  // namespace portnames
