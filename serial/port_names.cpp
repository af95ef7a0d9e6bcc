#include "serial/port_names.h"

#include <QDir>
#include <QFileInfo>

namespace portnames {

QString PortsFolder() {
  const QString own = qEnvironmentVariable("ARRESTER_PORTS_DIR");
  if (!own.isEmpty()) return own;
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  const QString config = xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg;
  return config + QStringLiteral("/arrester-monitor/ports");
}

QString PortName(int port) { return QStringLiteral("COM%1").arg(port); }

int PortNumber(const QString &name) {
  if (!name.startsWith(QLatin1String("COM"))) return 0;
  const QString digits = name.mid(3);
  if (digits.isEmpty() || digits.size() > 2 || digits.startsWith(QLatin1Char('0'))) return 0;
  bool ok = false;
  const int n = digits.toInt(&ok);
  return ok && n >= kFirstPort && n <= kLastPort ? n : 0;
}

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
