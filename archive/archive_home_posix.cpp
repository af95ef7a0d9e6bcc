#include <QDir>

#include "archive/archive_home.h"

// $XDG_DATA_HOME, else ~/.local/share; a relative XDG_DATA_HOME is ignored,
// as the XDG folder rules ask.
QString DefaultArchiveDataFolder() {
  const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (!dataHome.isEmpty() && QDir::isAbsolutePath(dataHome)) return dataHome;
  return QDir::homePath() + QStringLiteral("/.local/share");
}
