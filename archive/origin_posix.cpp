#include "archive/archive_types.h"

#include <QSysInfo>
#include <pwd.h>
#include <unistd.h>

void FillOrigin(QString &hostName, QString &userName) {
  if (hostName.isEmpty()) hostName = QSysInfo::machineHostName();
  if (userName.isEmpty()) {
    // The account the program runs as; the environment only when the
    // password database does not know it (a container's arbitrary uid).
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
      userName = QString::fromLocal8Bit(pw->pw_name);
    if (userName.isEmpty()) userName = qEnvironmentVariable("USER");
  }
}
