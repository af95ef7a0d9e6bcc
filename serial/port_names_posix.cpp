// On POSIX systems COMn is a link in the ports folder or a fixed device.
#include "serial/port_names.h"

#include <QFileInfo>

namespace portnames {

bool UsesPortsFolder() { return true; }

QString DefaultDevice(int port) {
  if (port >= 1 && port <= 4) return QStringLiteral("/dev/ttyS%1").arg(port - 1);
  if (port >= 5 && port <= 12) return QStringLiteral("/dev/ttyUSB%1").arg(port - 5);
  if (port >= 13 && port <= 16) return QStringLiteral("/dev/ttyACM%1").arg(port - 13);
  return {};
}

namespace {

QString LinkPath(int port) { return PortsFolder() + QLatin1Char('/') + PortName(port); }

}  // namespace

Resolved ResolvePort(int port) {
  Resolved r;
  if (port < kFirstPort || port > kLastPort) return r;
  const QFileInfo link(LinkPath(port));
  const QString path = link.isSymLink() ? LinkPath(port) : DefaultDevice(port);
  r.linked = link.isSymLink();
  // canonicalFilePath() follows every link and is empty when the file is missing.
  r.device = QFileInfo(path).canonicalFilePath();
  return r;
}

QString DescribePort(int port) {
  if (port < kFirstPort || port > kLastPort) return {};
  const QFileInfo link(LinkPath(port));
  if (!link.isSymLink()) return DefaultDevice(port);
  const QString real = QFileInfo(link.filePath()).canonicalFilePath();
  return real.isEmpty() ? link.symLinkTarget() : real;
}

}  // namespace portnames
