#include "serial/port_names.h"

#include <QDir>

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

}  // namespace portnames
